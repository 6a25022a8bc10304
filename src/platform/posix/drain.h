// Waiting for a serial port's output queue to empty, within a deadline.
//
// A write returns once the bytes are in the driver, long before a slow line
// has sent them; a caller that then sleeps (waking a terminal) or hands the
// port to someone else must know they have left. tcdrain() has no bound, so
// the queue is looked at every few milliseconds instead.
#pragma once

#include <cstdint>

#include "platform/posix/timing.h"

namespace pq640::os::posix {

// About five bytes' time at 9600 baud: short against any write time-out.
inline constexpr Micros kDrainPollUs = 5'000;

// Looks at `queued()` (bytes still waiting to go out, or a negative number when
// the device cannot tell) until it reports none or `deadline` passes. Returns
// the bytes still waiting then: 0 when drained or when the device cannot tell.
template <typename QueuedBytes>
std::uint32_t WaitForDrain(QueuedBytes queued, Micros deadline) {
  for (;;) {
    const long waiting = queued();
    if (waiting <= 0) return 0;
    const Micros now = NowUs();
    if (now >= deadline) return static_cast<std::uint32_t>(waiting);
    SleepUntil(deadline - now < kDrainPollUs ? deadline : now + kDrainPollUs);
  }
}

}  // namespace pq640::os::posix
