// POSIX sockets behind the seam's Windows Sockets model. What Windows Sockets
// does natively is done here by hand: start-ups are counted, the last cleanup
// closes every socket the layer made, and handles of closed sockets are
// recognised as stale instead of reaching a reused descriptor.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>

#include "platform/os.h"
#include "platform/posix/handles.h"
#include "platform/posix/timing.h"

namespace pq640::os {
namespace {

// Pieces handed to one sendmsg call; more go in the next one.
constexpr std::size_t kMaxPiecesPerCall = 512;

// A wait option this layer has not set on the socket yet.
constexpr std::uint32_t kWaitUnset = UINT32_MAX;

struct SocketEntry {
  Socket handle = kInvalidSocket;
  int fd = -1;
  // SO_RCVTIMEO and SO_SNDTIMEO as last set here: a bulk transfer sets each
  // once, not once per call.
  std::uint32_t receive_wait_ms = kWaitUnset;
  std::uint32_t send_wait_ms = kWaitUnset;
};

constinit posix::HandleTable<SocketEntry, 64> g_sockets;
constinit std::uint32_t g_startups = 0;

int SocketFd(Socket socket) {
  const SocketEntry* entry = g_sockets.Find(socket);
  return entry ? entry->fd : -1;
}

posix::Micros DeadlineAfter(std::uint32_t timeout_ms) {
  return posix::DeadlineAfterMs(posix::NowUs(), timeout_ms);
}

// Bounds every blocking send or receive on the socket by `wait_ms`; the
// kernel then ends a wait that runs out with EAGAIN.
bool SetWaitOption(int fd, int option, std::uint32_t wait_ms, std::uint32_t* current) {
  if (*current == wait_ms) return true;
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(wait_ms / 1000u);
  limit.tv_usec = static_cast<suseconds_t>(wait_ms % 1000u) * 1000;
  if (wait_ms == 0) limit.tv_usec = 1;  // 0 would mean no limit at all
  const bool set = setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit) == 0;
  *current = set ? wait_ms : kWaitUnset;
  return set;
}

// Sets what is left until `deadline` (at most `wait_ms`) as the socket's
// send wait; false when nothing is left.
bool ShortenSendWait(SocketEntry* entry, posix::Micros deadline, std::uint32_t wait_ms) {
  const posix::Micros now = posix::NowUs();
  if (now >= deadline) return false;
  const std::uint64_t left_ms = std::min<std::uint64_t>((deadline - now + 999) / 1000, wait_ms);
  return SetWaitOption(entry->fd, SO_SNDTIMEO, static_cast<std::uint32_t>(left_ms), &entry->send_wait_ms);
}

}  // namespace

// Version 2.2 is the only one on offer: a request for it or for anything
// later gets it, an earlier one fails (the library never makes one).
bool SocketLayerStartup(SocketLayerVersion requested, SocketLayerVersion* granted) {
  if (granted == nullptr || requested.major < 2 || (requested.major == 2 && requested.minor < 2)) {
    return false;
  }
  *granted = SocketLayerVersion{2, 2};
  ++g_startups;
  return true;
}

void SocketLayerCleanup() {
  if (g_startups == 0 || --g_startups != 0) return;
  for (SocketEntry& entry : g_sockets) {
    if (entry.fd < 0) continue;
    shutdown(entry.fd, SHUT_RDWR);
    close(entry.fd);
    g_sockets.Remove(&entry);
  }
}

Socket SocketCreate() {
  if (g_startups == 0) return kInvalidSocket;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalidSocket;
  const SocketEntry* entry = g_sockets.Add(fd);
  if (entry == nullptr) {
    close(fd);
    return kInvalidSocket;
  }
  return entry->handle;
}

void SocketShutdown(Socket socket) {
  const int fd = SocketFd(socket);
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

void SocketClose(Socket socket) {
  SocketEntry* entry = g_sockets.Find(socket);
  if (entry == nullptr) return;  // stale or foreign: touch no descriptor
  close(entry->fd);
  g_sockets.Remove(entry);
}

bool SocketSetBlocking(Socket socket, bool blocking) {
  const int fd = SocketFd(socket);
  if (fd < 0) return false;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, wanted) == 0;
}

ConnectResult SocketConnect(Socket socket, std::uint32_t address, std::uint16_t port) {
  const int fd = SocketFd(socket);
  if (fd < 0) return ConnectResult::kFailed;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = address;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return ConnectResult::kConnected;
  }
  // An interrupted connect carries on in the background, like a pending one.
  return errno == EINPROGRESS || errno == EINTR ? ConnectResult::kInProgress : ConnectResult::kFailed;
}

WaitResult SocketWaitConnected(Socket socket, std::uint32_t timeout_ms) {
  const int fd = SocketFd(socket);
  if (fd < 0) return WaitResult::kFailed;
  const int events = posix::WaitFor(fd, POLLOUT, DeadlineAfter(timeout_ms));
  if (events < 0) return WaitResult::kFailed;
  if (events == 0) return WaitResult::kTimedOut;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
    return WaitResult::kFailed;
  }
  // A socket that never started a connect polls writable too; only one with a
  // peer is connected.
  sockaddr_in peer{};
  socklen_t peer_length = sizeof peer;
  return getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) == 0 ? WaitResult::kReady
                                                                                 : WaitResult::kFailed;
}

WaitResult SocketWaitReadable(Socket socket, std::uint32_t timeout_ms) {
  const int fd = SocketFd(socket);
  if (fd < 0) return WaitResult::kFailed;
  // POLLHUP and POLLERR count as ready: the receive that follows reports them.
  const int events = posix::WaitFor(fd, POLLIN, DeadlineAfter(timeout_ms));
  if (events < 0 || (events & POLLNVAL) != 0) return WaitResult::kFailed;
  return events == 0 ? WaitResult::kTimedOut : WaitResult::kReady;
}

std::int64_t SocketSend(Socket socket, const SendSlice* slices, std::uint32_t slice_count,
                        std::uint32_t wait_ms) {
  SocketEntry* entry = g_sockets.Find(socket);
  if (entry == nullptr) return -1;
  const int fd = entry->fd;
  // The kernel bounds each wait for room itself: a blocking send that finds
  // none for the wait returns what it sent, or EAGAIN when it sent nothing.
  if (!SetWaitOption(fd, SO_SNDTIMEO, wait_ms, &entry->send_wait_ms)) return -1;
  // A signal ends a wait early with EINTR; the send goes on with only what is
  // left of it, so a host's interval timer cannot stretch it without end.
  posix::Micros deadline = DeadlineAfter(wait_ms);
  std::int64_t sent = 0;
  std::uint32_t slice = 0;
  std::uint32_t offset = 0;  // into slices[slice]
  while (slice < slice_count) {
    iovec pieces[kMaxPiecesPerCall];
    std::size_t count = 0;
    for (std::uint32_t i = slice; i < slice_count && count < kMaxPiecesPerCall; ++i) {
      const std::uint32_t skip = i == slice ? offset : 0;
      if (slices[i].size == skip) continue;
      pieces[count].iov_base = const_cast<std::uint8_t*>(slices[i].data + skip);
      pieces[count].iov_len = slices[i].size - skip;
      ++count;
    }
    if (count == 0) break;
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = count;
    // MSG_NOSIGNAL: a peer that has gone must not raise SIGPIPE in the host.
    const ssize_t n = sendmsg(fd, &message, MSG_NOSIGNAL);
    if (n < 0) {
      const int error = errno;
      if (error == EINTR) {
        if (ShortenSendWait(entry, deadline, wait_ms)) continue;
        return sent;  // the wait ran out between signals
      }
      return sent == 0 && error != EAGAIN && error != EWOULDBLOCK ? -1 : sent;
    }
    sent += n;
    // Progress: the next wait for room is a whole one again.
    deadline = DeadlineAfter(wait_ms);
    if (!SetWaitOption(fd, SO_SNDTIMEO, wait_ms, &entry->send_wait_ms)) return sent;
    // Step past what went out; a partial send goes on where it stopped.
    std::size_t left = static_cast<std::size_t>(n);
    while (slice < slice_count && left >= slices[slice].size - offset) {
      left -= slices[slice].size - offset;
      ++slice;
      offset = 0;
    }
    offset += static_cast<std::uint32_t>(left);
  }
  return sent;
}

std::int32_t SocketReceive(Socket socket, std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t wait_ms) {
  SocketEntry* entry = g_sockets.Find(socket);
  if (entry == nullptr) return kReceiveWaitFailed;
  const int fd = entry->fd;
  const std::size_t length = count > INT32_MAX ? INT32_MAX : count;
  const posix::Micros deadline = DeadlineAfter(wait_ms);
  // A blocking receive bounded by the kernel: bytes that are already there,
  // or that arrive within the wait, cost this one call.
  if (SetWaitOption(fd, SO_RCVTIMEO, wait_ms, &entry->receive_wait_ms)) {
    const ssize_t n = recv(fd, buffer, length, 0);
    if (n >= 0) return static_cast<std::int32_t>(n);
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return kReceiveFailed;
  }
  // Interrupted by a signal, ended by the kernel's reckoning of the time, or
  // not bounded at all: what is left of the wait is waited out here.
  for (;;) {
    // POLLHUP and POLLERR count as ready: the receive reports them.
    const int events = posix::WaitFor(fd, POLLIN, deadline);
    if (events < 0 || (events & POLLNVAL) != 0) return kReceiveWaitFailed;
    if (events == 0) return kReceiveTimedOut;
    const ssize_t n = recv(fd, buffer, length, MSG_DONTWAIT);
    if (n >= 0) return static_cast<std::int32_t>(n);
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return kReceiveFailed;
  }
}

void SocketSetReceiveBufferSize(Socket socket, std::uint32_t bytes) {
  const int fd = SocketFd(socket);
  if (fd < 0) return;
  const int size = bytes > INT_MAX ? INT_MAX : static_cast<int>(bytes);
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

void SocketSetNoDelay(Socket socket) {
  const int fd = SocketFd(socket);
  if (fd < 0) return;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace pq640::os
