// A one-shot stop request that poll() can wait on: a pipe that turns readable
// for good once raised. Every blocking wait of the service threads includes it.
#pragma once

#include <atomic>

namespace pq640sim {

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  bool Valid() const { return read_fd_ >= 0; }
  void Raise();
  bool Raised() const { return raised_.load(); }
  int ReadFd() const { return read_fd_; }
  // Sleeps up to `ms`; false when the stop came first.
  bool SleepFor(int ms) const;

 private:
  int read_fd_ = -1;
  int write_fd_ = -1;
  std::atomic<bool> raised_{false};
};

}  // namespace pq640sim
