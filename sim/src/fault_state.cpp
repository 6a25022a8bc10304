#include "fault_state.h"

#include <utility>

namespace pq640sim {

Faults FaultState::Get() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

FaultState::Versioned FaultState::GetVersioned() const {
  std::lock_guard lock(mutex_);
  return Versioned{faults_, generation_};
}

std::uint64_t FaultState::Set(Faults faults) {
  std::lock_guard lock(mutex_);
  faults_ = std::move(faults);
  return ++generation_;
}

void FaultState::MarkApplied(std::uint64_t generation) {
  {
    std::lock_guard lock(mutex_);
    if (generation > applied_) applied_ = generation;
  }
  applied_changed_.notify_all();
}

bool FaultState::WaitApplied(std::uint64_t generation, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return applied_changed_.wait_for(lock, timeout, [&] { return applied_ >= generation; });
}

}  // namespace pq640sim
