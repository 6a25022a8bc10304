// The terminal's real-time clock: an offset from the host's clock, so it keeps
// running between requests. Setting it moves the offset.
#pragma once

#include <chrono>
#include <functional>

#include "pq640sim/date_time.h"

namespace pq640sim {

class TerminalClock {
 public:
  using HostClock = std::function<std::chrono::system_clock::time_point()>;

  // Starts at the host's local time.
  explicit TerminalClock(HostClock host = &std::chrono::system_clock::now);

  DateTime Now() const;
  // `now` must be valid (IsValidDateTime).
  void Set(const DateTime& now);
  // Terminal time minus host time (UTC).
  std::chrono::seconds Offset() const { return offset_; }

 private:
  std::chrono::sys_seconds HostNow() const;

  HostClock host_;
  std::chrono::seconds offset_{0};
};

}  // namespace pq640sim
