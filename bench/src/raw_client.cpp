#include "raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace

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
