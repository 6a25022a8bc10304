#include "pty_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace pq640sim::test {

PtyClient::PtyClient(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  locked_ = flock(fd_, LOCK_EX | LOCK_NB) == 0;
  termios settings{};
  if (tcgetattr(fd_, &settings) == 0) {
    cfmakeraw(&settings);
    tcsetattr(fd_, TCSANOW, &settings);
  }
}

PtyClient::~PtyClient() {
  if (fd_ >= 0) close(fd_);
}

bool PtyClient::SetBaud(speed_t speed) {
  termios settings{};
  if (tcgetattr(fd_, &settings) != 0) return false;
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);
  return tcsetattr(fd_, TCSANOW, &settings) == 0;
}

void PtyClient::DiscardInput() { tcflush(fd_, TCIFLUSH); }

bool PtyClient::Send(std::span<const std::uint8_t> bytes) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!bytes.empty()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    const ssize_t sent = write(fd_, bytes.data(), bytes.size());
    if (sent > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(sent));
    } else if (sent < 0 && errno != EAGAIN) {
      return false;
    } else {
      pollfd waiting{fd_, POLLOUT, 0};
      poll(&waiting, 1, 50);
    }
  }
  return true;
}

std::vector<std::uint8_t> PtyClient::Receive(std::size_t count, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<std::uint8_t> received;
  std::uint8_t buffer[512];
  while (received.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(left)) != 1) break;
    const ssize_t got = read(fd_, buffer, std::min(sizeof buffer, count - received.size()));
    if (got > 0) received.insert(received.end(), buffer, buffer + got);
    else if (got < 0 && errno != EAGAIN) break;
  }
  return received;
}

}  // namespace pq640sim::test
