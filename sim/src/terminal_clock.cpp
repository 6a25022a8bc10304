#include "pq640sim/terminal_clock.h"

#include <ctime>
#include <utility>

namespace pq640sim {

TerminalClock::TerminalClock(HostClock host) : host_(std::move(host)) {
  // A terminal on a desk shows local time: start from the host's zone offset.
  const std::time_t now = std::chrono::system_clock::to_time_t(host_());
  std::tm local{};
  if (localtime_r(&now, &local) != nullptr) offset_ = std::chrono::seconds(local.tm_gmtoff);
}

std::chrono::sys_seconds TerminalClock::HostNow() const {
  return std::chrono::floor<std::chrono::seconds>(host_());
}

DateTime TerminalClock::Now() const { return FromSysSeconds(HostNow() + offset_); }

void TerminalClock::Set(const DateTime& now) { offset_ = ToSysSeconds(now) - HostNow(); }

}  // namespace pq640sim
