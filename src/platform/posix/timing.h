// Deadlines and waits on the monotonic clock, shared by the POSIX seam files.
#pragma once

#include <cstdint>

namespace pq640::os::posix {

using Micros = std::uint64_t;
inline constexpr Micros kNoDeadline = UINT64_MAX;

Micros NowUs();
// `ms` after `start`; a limit of decades counts as none.
Micros DeadlineAfterMs(Micros start, std::uint64_t ms);
// Waits for `events` on `fd` until `deadline`, through any number of signals.
// Returns the reported events (which may be only POLLHUP/POLLERR), 0 on
// time-out, -1 when poll itself fails.
int WaitFor(int fd, short events, Micros deadline);
void SleepUntil(Micros deadline);

}  // namespace pq640::os::posix
