#include "pq640sim/terminal_clock.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace pq640sim {
namespace {

using namespace std::chrono_literals;

// A host clock the test moves by hand.
struct ManualHostClock {
  std::shared_ptr<std::chrono::system_clock::time_point> now =
      std::make_shared<std::chrono::system_clock::time_point>(std::chrono::sys_days{
          std::chrono::year{2031} / 6 / 15} + 10h + 500ms);
  TerminalClock::HostClock Source() const {
    return [now = now] { return *now; };
  }
};

TEST(TerminalClockRunning, AdvancesWithTheHostClockFromTheSetTime) {
  ManualHostClock host;
  TerminalClock clock(host.Source());
  clock.Set(DateTime{23, 12, 31, 23, 59, 50});
  EXPECT_EQ(clock.Now(), (DateTime{23, 12, 31, 23, 59, 50}));
  *host.now += 15s;
  EXPECT_EQ(clock.Now(), (DateTime{24, 1, 1, 0, 0, 5}));
}

TEST(TerminalClockRunning, ReportsItsOffsetFromTheHost) {
  ManualHostClock host;
  TerminalClock clock(host.Source());
  clock.Set(DateTime{31, 6, 15, 11, 0, 0});  // one hour ahead of the host (UTC)
  EXPECT_EQ(clock.Offset(), 1h);
  clock.Set(DateTime{31, 6, 15, 10, 0, 0});
  EXPECT_EQ(clock.Offset(), 0s);
}

TEST(TerminalClockRunning, KeepsRunningOnTheRealClock) {
  TerminalClock clock;
  clock.Set(DateTime{24, 2, 29, 23, 59, 58});
  std::this_thread::sleep_for(1100ms);
  const auto elapsed = ToSysSeconds(clock.Now()) - ToSysSeconds(DateTime{24, 2, 29, 23, 59, 58});
  EXPECT_GE(elapsed, 1s);
  EXPECT_LE(elapsed, 30s);
}

TEST(TerminalClockStart, StartsNearTheHostsLocalTime) {
  TerminalClock clock;
  // Whatever the zone, the offset from UTC stays within a day.
  EXPECT_LE(std::chrono::abs(clock.Offset()), std::chrono::hours(24));
  EXPECT_TRUE(IsValidDateTime(clock.Now()));
}

}  // namespace
}  // namespace pq640sim
