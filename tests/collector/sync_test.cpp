// One cycle at a time, in this process, against simulated terminals on
// 127.55.1-6.x: first sync, later records, the overlapping second, pruning,
// failures and the terminal clock.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "sim_fleet.h"
#include "sync_cycle.h"
#include "time_zone.h"

namespace pq640collect {
namespace {

using testing::DatabaseLogs;
using testing::FleetConfig;
using testing::IoRecord;
using testing::Records;
using testing::ScratchDirectory;
using testing::Shifted;
using testing::SimFleet;
using testing::Sorted;

struct Collector {
  Collector(const ScratchDirectory& dir, const std::vector<std::string>& addresses, const std::string& extra = "")
      : config(ParseConfig(FleetConfig("sqlite:" + dir.path() + "/att.db", addresses, extra), dir.path() + "/c.toml")),
        store(OpenStore(config.store_url, StoreAccess::kCreate)) {
    store->Migrate();
    for (const auto& terminal : config.terminals) store->RegisterTerminal(terminal);
  }
  CycleReport Sync(int index) { return SyncTerminal(*store, config, config.terminals.at(static_cast<std::size_t>(index))); }
  Records Held(int index, LogKind log = LogKind::kIo) {
    return DatabaseLogs(*store, log)["t" + std::to_string(index + 1)];
  }
  CollectorConfig config;
  std::unique_ptr<Store> store;
};

void ExpectSameRecords(const Records& database, const Records& terminal) {
  EXPECT_EQ(database.size(), terminal.size());
  EXPECT_TRUE(Sorted(database) == Sorted(terminal)) << "the database differs from the terminal's log";
}

TEST(Sync, FirstSyncStoresExactlyTheTerminalsLogs) {
  SimFleet fleet(1, 2, {.users = 20, .administrators = 2, .io_records = 3000, .admin_records = 50});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0), fleet.Address(1)}, "time_zone = \"Europe/Berlin\"");
  for (int i = 0; i < 2; ++i) {
    const CycleReport report = collector.Sync(i);
    ASSERT_TRUE(report.ok) << report.error;
    EXPECT_EQ(report.io_read, 3000);
    ExpectSameRecords(collector.Held(i), fleet.Log(i, LogKind::kIo));
    ExpectSameRecords(collector.Held(i, LogKind::kAdmin), fleet.Log(i, LogKind::kAdmin));
  }
  // The columns hold the documented fields, and UTC is an hour behind
  // Berlin in winter (the simulators' logs end on 15 March).
  std::size_t checked = 0;
  collector.store->Export(LogKind::kIo, ExportFilter{}, [&](const ExportRow& row) {
    const IoFields fields = DecodeIo(row.raw);
    ASSERT_EQ(row.owner, fields.user_id);
    ASSERT_EQ(row.in_out, fields.in_out);
    ASSERT_EQ(row.value, fields.work_code);
    ASSERT_EQ(row.local_time, TimeText(RecordTime(row.raw)));
    ASSERT_EQ(WallSeconds(*ParseTimeText(row.local_time)) - WallSeconds(*ParseTimeText(*row.utc_time)), 3600);
    ++checked;
  });
  EXPECT_EQ(checked, 6000u);
}

TEST(Sync, LaterRecordsArriveOnTheNextCycleExactlyOnce) {
  SimFleet fleet(2, 1, {.users = 10, .io_records = 500, .admin_records = 0});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)});
  ASSERT_TRUE(collector.Sync(0).ok);

  const auto clock = fleet.Clock(0);
  fleet.SetClock(0, {clock.year, clock.month, clock.day, static_cast<std::uint8_t>(clock.hour + 1), 0, 0});
  Records added;
  for (int i = 0; i < 40; ++i) added.push_back(IoRecord(Shifted(clock, 600 + i / 4), 7 + i % 3));
  fleet.Add(0, LogKind::kIo, added);  // identical punches included: same second, same user
  const CycleReport second = collector.Sync(0);
  ASSERT_TRUE(second.ok) << second.error;
  EXPECT_EQ(collector.Held(0).size(), 540u);
  ExpectSameRecords(collector.Held(0), fleet.Log(0, LogKind::kIo));

  // Nothing new: the records of the watermark second are counted, not read.
  const CycleReport idle = collector.Sync(0);
  ASSERT_TRUE(idle.ok) << idle.error;
  EXPECT_EQ(idle.io_read, 0);
  ExpectSameRecords(collector.Held(0), fleet.Log(0, LogKind::kIo));
}

TEST(Sync, RecordsOfOneSecondSplitAcrossTwoCyclesAreNeitherLostNorDoubled) {
  SimFleet fleet(3, 1, {.users = 5, .io_records = 100});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)});
  const pq640sim::DateTime clock{26, 4, 1, 8, 0, 0};
  // The range ends two seconds before the clock, so the watermark lands on
  // one of these seconds even if the clock ticks once before it is read.
  Records before;
  for (int back = 1; back <= 3; ++back) {
    for (int copy = 0; copy < 2; ++copy) before.push_back(IoRecord(Shifted(clock, -back), 42));
    before.push_back(IoRecord(Shifted(clock, -back), 43));
  }
  fleet.Add(0, LogKind::kIo, before);
  fleet.SetClock(0, clock);
  ASSERT_TRUE(collector.Sync(0).ok);
  const auto watermark = *collector.store->State("t1").io_watermark;
  const std::int64_t held_at_watermark = collector.store->CountAt("t1", LogKind::kIo, watermark);
  ASSERT_GE(held_at_watermark, 3) << "the test needs records at the watermark second";

  // More of the same second arrive: two more identical punches and a new one.
  fleet.Add(0, LogKind::kIo, {IoRecord(watermark, 42), IoRecord(watermark, 42), IoRecord(watermark, 44)});
  fleet.SetClock(0, {26, 4, 1, 8, 5, 0});
  ASSERT_TRUE(collector.Sync(0).ok);
  EXPECT_EQ(collector.store->CountAt("t1", LogKind::kIo, watermark), held_at_watermark + 3);
  ExpectSameRecords(collector.Held(0), fleet.Log(0, LogKind::kIo));
}

TEST(Sync, KeepOnTerminalDeletesOnlyOldRecordsTheDatabaseHolds) {
  SimFleet fleet(4, 1, {.users = 10, .administrators = 1, .io_records = 3000, .admin_records = 300});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)}, "keep_on_terminal = \"10d\"");
  const Records original = fleet.Log(0, LogKind::kIo);
  ASSERT_TRUE(collector.Sync(0).ok);
  ExpectSameRecords(collector.Held(0), original);
  const Records kept = fleet.Log(0, LogKind::kIo);
  const std::int64_t cutoff = WallSeconds(Shifted(fleet.Clock(0), -10 * 86400));
  EXPECT_GT(kept.size(), 800u);
  EXPECT_LT(kept.size(), 1200u);
  for (const RawRecord& raw : kept) ASSERT_GT(WallSeconds(RecordTime(raw)), cutoff - 5);
  EXPECT_LT(fleet.Log(0, LogKind::kAdmin).size(), 120u);
  EXPECT_EQ(collector.Held(0, LogKind::kAdmin).size(), 300u);
  // A later cycle keeps the database whole and prunes nothing it lacks.
  ASSERT_TRUE(collector.Sync(0).ok);
  ExpectSameRecords(collector.Held(0), original);
}

TEST(Sync, UnreachableTerminalBacksOffWithoutHoldingUpTheOthers) {
  SimFleet fleet(5, 1, {.users = 5, .io_records = 50});
  ScratchDirectory dir;
  Collector collector(dir, {"127.55.5.200", fleet.Address(0)});  // nothing listens on .200
  const std::int64_t before = std::time(nullptr);
  const CycleReport failed = collector.Sync(0);
  EXPECT_FALSE(failed.ok);
  EXPECT_NE(failed.error.find("PQ640_GetDateTime: -100"), std::string::npos) << failed.error;
  SyncState state = collector.store->State("t1");
  EXPECT_EQ(state.failures, 1);
  EXPECT_GE(*state.next_due - before, 30);
  EXPECT_LE(*state.next_due - before, 32);
  ASSERT_FALSE(collector.Sync(0).ok);
  state = collector.store->State("t1");
  EXPECT_EQ(state.failures, 2);
  EXPECT_EQ(*state.next_due - *state.last_attempt, 60);
  EXPECT_FALSE(state.io_watermark.has_value());

  const CycleReport good = collector.Sync(1);
  ASSERT_TRUE(good.ok) << good.error;
  ExpectSameRecords(collector.Held(1), fleet.Log(0, LogKind::kIo));
  const auto status = collector.store->Status();
  ASSERT_EQ(status.size(), 2u);
  EXPECT_NE(status[0].last_error->find("connecting failed"), std::string::npos);
  EXPECT_EQ(status[1].failures, 0);
}

TEST(Sync, BabblingTerminalCommitsNothingUntilItAnswersSanely) {
  SimFleet fleet(6, 1, {.users = 5, .io_records = 200});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)});
  pq640sim::Faults babble;
  babble.invalid_io_record_at = 120;
  fleet.Terminal(0).SetFaults(babble);
  const CycleReport failed = collector.Sync(0);
  EXPECT_FALSE(failed.ok);
  EXPECT_NE(failed.error.find("impossible time"), std::string::npos) << failed.error;
  EXPECT_TRUE(collector.Held(0).empty());
  EXPECT_FALSE(collector.store->State("t1").io_watermark.has_value());
  fleet.Terminal(0).ClearFaults();
  ASSERT_TRUE(collector.Sync(0).ok);
  ExpectSameRecords(collector.Held(0), fleet.Log(0, LogKind::kIo));
}

TEST(Sync, SetClockCorrectsDriftAndKeepsPunchesAfterABackwardSet) {
  SimFleet fleet(7, 1, {.users = 5, .io_records = 20});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)}, "set_clock = true\nmax_drift = \"10s\"");
  // The terminal runs a year ahead of the host.
  const PQ640_DateTime host = HostNow(std::nullopt);
  const PQ640_DateTime ahead = FromWallSeconds(WallSeconds(host) + 365 * 86400);
  fleet.SetClock(0, {ahead.year, ahead.month, ahead.day, ahead.hour, ahead.minute, ahead.second});
  const CycleReport report = collector.Sync(0);
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_GT(report.clock_drift, 364 * 86400);
  const auto now = fleet.Clock(0);
  const std::int64_t drift_after =
      WallSeconds(PQ640_DateTime{now.year, now.month, now.day, now.hour, now.minute, now.second}) -
      WallSeconds(HostNow(std::nullopt));
  EXPECT_LE(std::abs(drift_after), 5);
  // A punch after the set carries a time before the old watermark; it still arrives.
  fleet.Add(0, LogKind::kIo, {IoRecord(Shifted(now, -1), 99)});
  fleet.SetClock(0, {now.year, now.month, now.day, now.hour, now.minute, now.second});
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_TRUE(collector.Sync(0).ok);
  ExpectSameRecords(collector.Held(0), fleet.Log(0, LogKind::kIo));
}

}  // namespace
}  // namespace pq640collect
