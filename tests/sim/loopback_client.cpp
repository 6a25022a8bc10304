#include "loopback_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace pq640sim::test {

std::optional<LoopbackClient> LoopbackClient::Connect(const std::string& address,
                                                      std::uint16_t port, int* error,
                                                      int timeout_ms) {
  if (error) *error = 0;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  // Only loopback: the tests never send traffic anywhere else.
  if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1 ||
      (ntohl(peer.sin_addr.s_addr) >> 24) != 127) {
    if (error) *error = EINVAL;
    return std::nullopt;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = errno;
    return std::nullopt;
  }
  int result = connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  if (result != 0 && errno == EINPROGRESS) {
    pollfd waiting{fd, POLLOUT, 0};
    if (poll(&waiting, 1, timeout_ms) == 1) {
      int so_error = 0;
      socklen_t length = sizeof so_error;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &length);
      errno = so_error;
      result = so_error == 0 ? 0 : -1;
    } else {
      errno = ETIMEDOUT;
    }
  }
  if (result != 0) {
    if (error) *error = errno;
    close(fd);
    return std::nullopt;
  }
  return LoopbackClient(fd);
}

LoopbackClient::LoopbackClient(LoopbackClient&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

LoopbackClient::~LoopbackClient() {
  if (fd_ >= 0) close(fd_);
}

bool LoopbackClient::Send(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    pollfd waiting{fd_, POLLOUT, 0};
    if (poll(&waiting, 1, 2000) != 1) return false;
    const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(sent));
  }
  return true;
}

Received LoopbackClient::Receive(std::size_t count, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  Received received;
  std::uint8_t buffer[4096];
  while (received.bytes.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(left)) != 1) break;
    const std::size_t wanted = std::min(sizeof buffer, count - received.bytes.size());
    const ssize_t got = recv(fd_, buffer, wanted, 0);
    if (got < 0 && errno == EAGAIN) continue;
    if (got <= 0) {
      received.peer_closed = true;
      break;
    }
    received.bytes.insert(received.bytes.end(), buffer, buffer + got);
  }
  return received;
}

void LoopbackClient::ShutdownAndClose() {
  if (fd_ < 0) return;
  shutdown(fd_, SHUT_RDWR);
  close(fd_);
  fd_ = -1;
}

}  // namespace pq640sim::test
