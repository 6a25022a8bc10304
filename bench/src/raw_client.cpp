#include "raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace pq640bench {
namespace {

// The library's receive buffer: the comparison is only fair on equal windows.
constexpr int kReceiveBufferBytes = 1024;
// Bounds every send and receive, so a lost answer cannot hang the run; set
// once, so the reads themselves are bare receive calls.
constexpr timeval kTransferWait{5, 0};

bool Connect(int fd, const std::string& address, std::uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) return false;
  // Loopback only: this program never talks to anything else.
  if ((ntohl(peer.sin_addr.s_addr) >> 24) != 127) return false;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kTransferWait, sizeof kTransferWait);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kTransferWait, sizeof kTransferWait);
  return connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
}

bool SendAll(int fd, const Bytes& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReceiveExactly(int fd, std::span<std::uint8_t> out) {
  std::size_t arrived = 0;
  while (arrived < out.size()) {
    const ssize_t n = recv(fd, out.data() + arrived, out.size() - arrived, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    arrived += static_cast<std::size_t>(n);
  }
  return true;
}

// Bytes in the frame before the checksum starts: the preamble and start byte.
constexpr std::size_t kUnchecksummedBytes = 16;
// What one vectored send may carry on Linux.
constexpr std::size_t kMaxPieces = 1024;

// Eight bytes at a time, as the library folds its checksum.
std::uint8_t XorOf(const std::uint8_t* bytes, std::size_t count) {
  std::uint64_t wide = 0;
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes + i, 8);
    wide ^= word;
  }
  std::uint8_t x = 0;
  for (int shift = 0; shift < 64; shift += 8) x ^= static_cast<std::uint8_t>(wide >> shift);
  for (; i < count; ++i) x ^= bytes[i];
  return x;
}

bool SendPieces(int fd, iovec* pieces, std::size_t count) {
  while (count > 0) {
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = count;
    ssize_t n = sendmsg(fd, &message, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    // A partial send goes on where it stopped.
    while (count > 0 && static_cast<std::size_t>(n) >= pieces->iov_len) {
      n -= static_cast<ssize_t>(pieces->iov_len);
      ++pieces;
      --count;
    }
    if (count > 0) {
      pieces->iov_base = static_cast<std::uint8_t*>(pieces->iov_base) + n;
      pieces->iov_len -= static_cast<std::size_t>(n);
    }
  }
  return true;
}

}  // namespace

std::optional<Elapsed> RawEncoderExchange(const std::string& address, std::uint16_t port,
                                         std::span<const std::uint8_t> head, const void* records,
                                         std::size_t count, std::size_t slot_size,
                                         std::size_t record_bytes, std::span<std::uint8_t> response) {
  if (count + 2 > kMaxPieces || head.size() < kUnchecksummedBytes) return std::nullopt;
  std::vector<iovec> pieces(count + 2);  // allocated before the clock starts
  const Stopwatch stopwatch;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  bool ok = Connect(fd, address, port);
  const auto* slots = static_cast<const std::uint8_t*>(records);
  std::uint8_t checksum = XorOf(head.data() + kUnchecksummedBytes, head.size() - kUnchecksummedBytes);
  pieces[0] = {const_cast<std::uint8_t*>(head.data()), head.size()};
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* slot = slots + i * slot_size;
    checksum ^= XorOf(slot, record_bytes);
    pieces[i + 1] = {const_cast<std::uint8_t*>(slot), record_bytes};
  }
  pieces[count + 1] = {&checksum, 1};
  ok = ok && SendPieces(fd, pieces.data(), pieces.size()) && ReceiveExactly(fd, response);
  const Elapsed elapsed = stopwatch.Read();
  close(fd);
  if (!ok) return std::nullopt;
  return elapsed;
}

std::optional<Elapsed> RawExchange(const std::string& address, std::uint16_t port,
                                  const Bytes& request, std::span<std::uint8_t> response) {
  const Stopwatch stopwatch;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  const bool ok = Connect(fd, address, port) && SendAll(fd, request) && ReceiveExactly(fd, response);
  const Elapsed elapsed = stopwatch.Read();
  close(fd);
  if (!ok) return std::nullopt;
  return elapsed;
}

}  // namespace pq640bench
