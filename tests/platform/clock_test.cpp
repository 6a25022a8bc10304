// The sleep and the monotonic clock against CLOCK_MONOTONIC itself.
#include <signal.h>
#include <sys/time.h>
#include <time.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "platform/os.h"

namespace os = pq640::os;

namespace {

std::uint64_t ReferenceMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
}

volatile sig_atomic_t g_alarms = 0;
void CountAlarm(int) { g_alarms = g_alarms + 1; }

}  // namespace

TEST(Clock, SleepLastsAtLeastTheTimeAsked) {
  const std::uint64_t start = ReferenceMs();
  os::SleepMs(200);
  const std::uint64_t elapsed = ReferenceMs() - start;
  EXPECT_GE(elapsed, 200u);
  EXPECT_LE(elapsed, 3000u);

  const std::uint64_t again = ReferenceMs();
  os::SleepMs(0);
  EXPECT_LE(ReferenceMs() - again, 100u);
}

TEST(Clock, SleepResumesAfterSignals) {
  // Alarms every 20 ms without SA_RESTART interrupt the sleep over and over.
  struct sigaction action{};
  struct sigaction previous{};
  action.sa_handler = CountAlarm;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  itimerval every_20ms{{0, 20'000}, {0, 20'000}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every_20ms, nullptr), 0);

  g_alarms = 0;
  const std::uint64_t start = ReferenceMs();
  os::SleepMs(300);
  const std::uint64_t elapsed = ReferenceMs() - start;
  const int alarms = g_alarms;

  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);

  EXPECT_GE(alarms, 3) << "the sleep was never interrupted, so this proves nothing";
  EXPECT_GE(elapsed, 300u);
  EXPECT_LE(elapsed, 3000u);
}

TEST(Clock, MonotonicMsFollowsTheSystemsMonotonicClock) {
  const std::uint64_t reference_start = ReferenceMs();
  const std::uint64_t start = os::MonotonicMs();
  std::uint64_t previous = start;
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t now = os::MonotonicMs();
    ASSERT_GE(now, previous) << "went backwards";
    previous = now;
  }
  timespec pause{0, 150'000'000};
  while (nanosleep(&pause, &pause) != 0) {
  }
  const std::int64_t ours = static_cast<std::int64_t>(os::MonotonicMs() - start);
  const std::int64_t reference = static_cast<std::int64_t>(ReferenceMs() - reference_start);
  EXPECT_GE(ours, 150);
  EXPECT_LE(ours > reference ? ours - reference : reference - ours, 20);
}
