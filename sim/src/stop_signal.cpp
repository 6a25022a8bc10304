#include "stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace pq640sim {

StopSignal::StopSignal() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    read_fd_ = fds[0];
    write_fd_ = fds[1];
  }
}

StopSignal::~StopSignal() {
  if (read_fd_ >= 0) close(read_fd_);
  if (write_fd_ >= 0) close(write_fd_);
}

void StopSignal::Raise() {
  if (raised_.exchange(true)) return;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = write(write_fd_, &byte, 1);
}

bool StopSignal::SleepFor(int ms) const {
  if (Raised()) return false;
  pollfd fd{read_fd_, POLLIN, 0};
  poll(&fd, 1, ms);
  return !Raised();
}

}  // namespace pq640sim
