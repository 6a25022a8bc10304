#include "fd_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

namespace pq640sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSliceMs = 20;
// A peer that takes no byte for this long is treated as gone.
constexpr auto kWriteGiveUp = std::chrono::seconds(10);

int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, kSliceMs));
}

}  // namespace

FdChannel::FdChannel(int fd, Kind kind, const StopSignal& stop, std::function<void()> tick)
    : fd_(fd), kind_(kind), stop_(stop), tick_(std::move(tick)) {}

bool FdChannel::Slice(short events, int timeout_ms, bool* ready) {
  pollfd fds[2] = {{events != 0 ? fd_ : -1, events, 0}, {stop_.ReadFd(), POLLIN, 0}};
  const int n = poll(fds, 2, timeout_ms);
  if (tick_) tick_();
  if (stop_.Raised()) return false;
  *ready = n > 0 && (fds[0].revents & (events | POLLHUP | POLLERR)) != 0;
  return true;
}

Channel::ReadResult FdChannel::Read(std::span<std::uint8_t> buffer, std::uint32_t timeout_ms) {
  if (dropped_) return {ReadStatus::kClosed, 0};
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    bool ready = false;
    if (!Slice(POLLIN, MsUntil(deadline), &ready)) return {ReadStatus::kStopped, 0};
    if (ready) {
      const ssize_t got = kind_ == Kind::kSocket ? recv(fd_, buffer.data(), buffer.size(), 0)
                                                 : read(fd_, buffer.data(), buffer.size());
      if (got > 0) return {ReadStatus::kData, static_cast<std::size_t>(got)};
      const bool retry = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
      if (kind_ == Kind::kSocket && !retry) return {ReadStatus::kClosed, 0};
      if (kind_ == Kind::kPty && !retry) {
        // No slave end open (EIO / hang-up): wait for one to appear again.
        bool unused = false;
        if (!Slice(0, MsUntil(deadline), &unused)) return {ReadStatus::kStopped, 0};
      }
    }
    if (Clock::now() >= deadline) return {ReadStatus::kIdle, 0};
  }
}

bool FdChannel::Write(std::span<const std::uint8_t> bytes) {
  if (dropped_) return false;
  auto last_progress = Clock::now();
  while (!bytes.empty()) {
    const ssize_t sent = kind_ == Kind::kSocket
                             ? send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT)
                             : write(fd_, bytes.data(), bytes.size());
    if (sent > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(sent));
      last_progress = Clock::now();
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    if (Clock::now() - last_progress > kWriteGiveUp) return false;
    bool ready = false;
    if (!Slice(POLLOUT, kSliceMs, &ready)) return false;
  }
  return true;
}

bool FdChannel::Pause(std::uint32_t ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < deadline) {
    bool unused = false;
    if (!Slice(0, MsUntil(deadline), &unused)) return false;
  }
  return !stop_.Raised();
}

bool FdChannel::Drop() {
  if (kind_ != Kind::kSocket) return false;
  dropped_ = true;
  return true;
}

}  // namespace pq640sim
