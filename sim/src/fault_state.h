// The faults in force, shared between the test thread and the service thread.
// Every change gets a generation number; the TCP service thread reports the
// generation it has applied, so a setter can wait for the listener to follow.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "pq640sim/faults.h"

namespace pq640sim {

class FaultState {
 public:
  struct Versioned {
    Faults faults;
    std::uint64_t generation = 0;
  };

  Faults Get() const;
  Versioned GetVersioned() const;
  // Returns the generation of the new faults.
  std::uint64_t Set(Faults faults);

  void MarkApplied(std::uint64_t generation);
  bool WaitApplied(std::uint64_t generation, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable applied_changed_;
  Faults faults_;
  std::uint64_t generation_ = 0;
  std::uint64_t applied_ = 0;
};

}  // namespace pq640sim
