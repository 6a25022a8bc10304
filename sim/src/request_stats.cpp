#include "request_stats.h"

namespace pq640sim {

void RequestStats::RecordFrame(std::span<const std::uint8_t> raw) {
  std::lock_guard lock(mutex_);
  last_request_.assign(raw.begin(), raw.end());
}

void RequestStats::RecordBaud(std::uint32_t baud) {
  std::lock_guard lock(mutex_);
  observed_baud_ = baud;
}

void RequestStats::CountServed() {
  {
    std::lock_guard lock(mutex_);
    ++counters_.served;
  }
  served_changed_.notify_all();
}

void RequestStats::CountBadChecksum() {
  std::lock_guard lock(mutex_);
  ++counters_.bad_checksum;
}

void RequestStats::CountOtherTerminal() {
  std::lock_guard lock(mutex_);
  ++counters_.other_terminal;
}

void RequestStats::CountUnknownCommand() {
  std::lock_guard lock(mutex_);
  ++counters_.unknown_command;
}

RequestCounters RequestStats::Counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

std::vector<std::uint8_t> RequestStats::LastRequest() const {
  std::lock_guard lock(mutex_);
  return last_request_;
}

std::uint32_t RequestStats::ObservedBaud() const {
  std::lock_guard lock(mutex_);
  return observed_baud_;
}

bool RequestStats::WaitForServed(std::uint64_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return served_changed_.wait_for(lock, timeout, [&] { return counters_.served >= count; });
}

}  // namespace pq640sim
