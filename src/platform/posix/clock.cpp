// POSIX time: CLOCK_MONOTONIC for every deadline, absolute sleeps so that
// signals neither shorten nor stretch a wait.
#include <poll.h>
#include <time.h>

#include <cerrno>
#include <climits>

#include "platform/os.h"
#include "platform/posix/timing.h"

namespace pq640::os {
namespace posix {

// Anything longer than this (about 31 years) is treated as "no limit".
constexpr std::uint64_t kLongestLimitMs = 1'000'000'000'000ull;

Micros NowUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<Micros>(now.tv_sec) * 1'000'000u + static_cast<Micros>(now.tv_nsec) / 1000u;
}

Micros DeadlineAfterMs(Micros start, std::uint64_t ms) {
  return ms > kLongestLimitMs ? kNoDeadline : start + ms * 1000u;
}

namespace {

// poll() time-out that reaches `deadline`, rounded up so no wait ends early.
int PollTimeoutMs(Micros deadline) {
  if (deadline == kNoDeadline) return -1;
  const Micros now = NowUs();
  if (now >= deadline) return 0;
  const Micros ms = (deadline - now + 999u) / 1000u;
  return ms > static_cast<Micros>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

int WaitFor(int fd, short events, Micros deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, PollTimeoutMs(deadline));
    if (ready > 0) return entry.revents;
    if (ready == 0) {
      if (NowUs() >= deadline) return 0;
      continue;  // a wait longer than poll() can express in one go
    }
    if (errno != EINTR) return -1;
  }
}

void SleepUntil(Micros deadline) {
  timespec until{};
  until.tv_sec = static_cast<time_t>(deadline / 1'000'000u);
  until.tv_nsec = static_cast<long>(deadline % 1'000'000u) * 1000L;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

}  // namespace posix

void SleepMs(std::uint32_t ms) { posix::SleepUntil(posix::NowUs() + std::uint64_t{ms} * 1000u); }

std::uint64_t MonotonicMs() { return posix::NowUs() / 1000u; }

}  // namespace pq640::os
