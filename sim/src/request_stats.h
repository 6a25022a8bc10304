// What the service thread has seen and answered, readable from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "pq640sim/simulator.h"

namespace pq640sim {

class RequestStats {
 public:
  void RecordFrame(std::span<const std::uint8_t> raw);
  void RecordBaud(std::uint32_t baud);
  void CountServed();
  void CountBadChecksum();
  void CountOtherTerminal();
  void CountUnknownCommand();

  RequestCounters Counters() const;
  std::vector<std::uint8_t> LastRequest() const;
  std::uint32_t ObservedBaud() const;
  bool WaitForServed(std::uint64_t count, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable served_changed_;
  RequestCounters counters_;
  std::vector<std::uint8_t> last_request_;
  std::uint32_t observed_baud_ = 0;
};

}  // namespace pq640sim
