// Loopback peers and timing for the socket seam's tests. Every peer is on
// 127.0.0.1 and is made by the test itself.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "platform/os.h"

namespace loopback {

namespace os = pq640::os;

inline const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

inline std::uint64_t ElapsedMs(const timespec& since) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>((now.tv_sec - since.tv_sec) * 1000 +
                                    (now.tv_nsec - since.tv_nsec) / 1'000'000);
}

inline timespec Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

// One start-up for the length of a test, balanced on the way out.
class StartedLayer {
 public:
  StartedLayer() {
    os::SocketLayerVersion granted;
    started_ = os::SocketLayerStartup({2, 2}, &granted);
  }
  ~StartedLayer() {
    if (started_) os::SocketLayerCleanup();
  }
  StartedLayer(const StartedLayer&) = delete;
  StartedLayer& operator=(const StartedLayer&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

// A listening socket on 127.0.0.1 at a port the kernel picks.
struct Listener {
  int fd = -1;
  std::uint16_t port = 0;
  explicit Listener(int backlog = 4) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = kLoopback;
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port = ntohs(address.sin_port);
  }
  ~Listener() {
    if (fd >= 0) close(fd);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // The next pending connection, or -1 after `ms`.
  int Accept(int ms) const {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, ms) != 1) return -1;
    return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  }
};

// A loopback port with nobody listening: bound once, then released.
inline std::uint16_t UnusedLoopbackPort() {
  Listener probe;
  return probe.port;
}

// Non-blocking connect as the TCP link does it, bounded at 3 s.
inline bool ConnectLoopback(os::Socket socket, std::uint16_t port) {
  if (!os::SocketSetBlocking(socket, false)) return false;
  switch (os::SocketConnect(socket, kLoopback, port)) {
    case os::ConnectResult::kConnected: return true;
    case os::ConnectResult::kInProgress:
      return os::SocketWaitConnected(socket, 3000) == os::WaitResult::kReady;
    case os::ConnectResult::kFailed: return false;
  }
  return false;
}

inline bool DescriptorOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

}  // namespace loopback
