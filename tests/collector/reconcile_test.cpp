// Content, not the terminal's clock: every record the terminal ever held
// reaches the database, whatever its time stamp, and nothing is deleted on a
// terminal before the database holds it. One cycle at a time, in this
// process, against simulated terminals on 127.55.30-45.x.
#include <gtest/gtest.h>

#include <ctime>

#include "schedule.h"
#include "sim_fleet.h"
#include "status_report.h"
#include "sync_cycle.h"
#include "time_zone.h"

namespace pq640collect {
namespace {

using namespace testing;

struct Collector {
  Collector(const ScratchDirectory& dir, const std::vector<std::string>& addresses, const std::string& extra = "")
      : config(ParseConfig(FleetConfig("sqlite:" + dir.path() + "/att.db", addresses, extra), dir.path() + "/c.toml")),
        store(OpenStore(config.store_url, StoreAccess::kCreate)) {
    store->Migrate();
    for (const auto& terminal : config.terminals) store->RegisterTerminal(terminal);
  }
  CycleReport Sync(int index = 0) {
    const CycleReport report = SyncTerminal(*store, config, config.terminals.at(static_cast<std::size_t>(index)));
    EXPECT_TRUE(report.ok) << report.error;
    return report;
  }
  Records Held(int index = 0, LogKind log = LogKind::kIo) {
    return DatabaseLogs(*store, log)["t" + std::to_string(index + 1)];
  }
  CollectorConfig config;
  std::unique_ptr<Store> store;
};

// The database equals the union of everything the terminal ever held.
void ExpectHeld(const Records& database, const Records& ever) {
  EXPECT_EQ(database.size(), ever.size());
  EXPECT_TRUE(Sorted(database) == Sorted(ever)) << "the database is not every record the terminal held";
}

pq640sim::DateTime Sim(const PQ640_DateTime& time) {
  return {time.year, time.month, time.day, time.hour, time.minute, time.second};
}

std::int64_t LateRows(Store& store) {
  std::int64_t late = 0;
  store.Export(LogKind::kIo, ExportFilter{}, [&](const ExportRow& row) { late += row.late ? 1 : 0; });
  return late;
}

TEST(Reconcile, IdleCycleCostsClockAndOneCountPerLog) {
  SimFleet fleet(30, 1, {.users = 10, .administrators = 1, .io_records = 2000, .admin_records = 20});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)});
  collector.Sync();
  const auto before = fleet.Terminal(0).RequestsServed();
  const CycleReport idle = collector.Sync();
  EXPECT_EQ(idle.io_read + idle.admin_read, 0);
  EXPECT_EQ(fleet.Terminal(0).RequestsServed() - before, 3u) << "clock, IO count, administrator count";
  // A new punch costs one read more, no further count.
  fleet.Add(0, LogKind::kIo, {IoRecord(Shifted(fleet.Clock(0), -1), 3)});
  const auto again = fleet.Terminal(0).RequestsServed();
  const CycleReport one = collector.Sync();
  EXPECT_EQ(one.io_new, 1);
  EXPECT_EQ(fleet.Terminal(0).RequestsServed() - again, 4u);
  ExpectHeld(collector.Held(), fleet.Log(0, LogKind::kIo));
}

TEST(Reconcile, PunchesEnteredLateOrWrittenAfterTheirStampArriveMarkedLate) {
  SimFleet fleet(31, 1, {.users = 10, .io_records = 3000});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)}, "every = \"1m\"");
  collector.Sync();
  const auto clock = fleet.Clock(0);
  // Entered by hand 10 minutes and a day back; one written 10 s after its
  // stamp, one 5 s after (both behind the watermark by then).
  const Records late{IoRecord(Shifted(clock, -600), 4), IoRecord(Shifted(clock, -86400), 5),
                     IoRecord(Shifted(clock, -10), 6), IoRecord(Shifted(clock, -5), 7)};
  fleet.Add(0, LogKind::kIo, late);
  const CycleReport report = collector.Sync();
  EXPECT_EQ(report.io_new, 4);
  EXPECT_EQ(report.late, 4);
  ExpectHeld(collector.Held(), fleet.Log(0, LogKind::kIo));
  EXPECT_EQ(LateRows(*collector.store), 4);
  // Reconciled: the next idle cycle reads nothing.
  EXPECT_EQ(collector.Sync().io_read, 0);
}

TEST(Reconcile, ClockAheadThenCorrectedWithoutSetClockLosesNothing) {
  SimFleet fleet(32, 1, {.users = 10, .io_records = 500});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)});
  collector.Sync();
  const auto right = fleet.Clock(0);
  // A day ahead (and once in 2099), punches under the wrong clock.
  fleet.SetClock(0, Sim(Shifted(right, 86400)));
  fleet.Add(0, LogKind::kIo, {IoRecord(Shifted(right, 86400 - 1), 8)});
  collector.Sync();
  fleet.SetClock(0, {99, 6, 1, 8, 0, 0});
  fleet.Add(0, LogKind::kIo, {IoRecord(PQ640_DateTime{99, 6, 1, 7, 59, 59}, 9)});
  collector.Sync();
  // Corrected by hand: punches after the correction lie behind the watermark.
  fleet.SetClock(0, Sim(Shifted(right, 60)));
  fleet.Add(0, LogKind::kIo, {IoRecord(Shifted(right, 50), 10), IoRecord(Shifted(right, 55), 11)});
  const CycleReport report = collector.Sync();
  EXPECT_EQ(report.io_new, 2);
  ASSERT_FALSE(report.notes.empty());
  EXPECT_NE(report.notes[0].find("clock jumped back"), std::string::npos) << report.notes[0];
  ExpectHeld(collector.Held(), fleet.Log(0, LogKind::kIo));
  const auto status = collector.store->Status();
  ASSERT_TRUE(status[0].clock_event.has_value());
}

TEST(Reconcile, ClockBehindOrResetTo2000LosesNothing) {
  SimFleet fleet(33, 1, {.users = 10, .io_records = 500});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)});
  collector.Sync();
  const auto clock = fleet.Clock(0);
  fleet.SetClock(0, Sim(Shifted(clock, -3600)));
  fleet.Add(0, LogKind::kIo, {IoRecord(Shifted(clock, -3500), 12)});
  collector.Sync();
  // A power cut resets the clock to 2000-01-01.
  fleet.SetClock(0, {0, 1, 1, 0, 1, 0});
  fleet.Add(0, LogKind::kIo, {IoRecord(PQ640_DateTime{0, 1, 1, 0, 0, 10}, 13), IoRecord(PQ640_DateTime{0, 1, 1, 0, 0, 20}, 14)});
  const CycleReport report = collector.Sync();
  EXPECT_EQ(report.io_new, 2);
  ExpectHeld(collector.Held(), fleet.Log(0, LogKind::kIo));
}

TEST(Reconcile, LogClearedByAnotherToolThenOnePunch) {
  SimFleet fleet(34, 1, {.users = 10, .io_records = 800});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)});
  const auto clock = fleet.Clock(0);
  fleet.Add(0, LogKind::kIo, {IoRecord(Shifted(clock, -3), 15)});  // on the watermark second
  collector.Sync();
  Records ever = fleet.Log(0, LogKind::kIo);
  auto stored = fleet.Terminal(0).Snapshot().stored;
  stored.io_records.clear();
  fleet.Terminal(0).Model().SetStoredRecords(std::move(stored));
  const Records punch{IoRecord(Shifted(fleet.Clock(0), -3), 16)};
  fleet.Add(0, LogKind::kIo, punch);
  ever.insert(ever.end(), punch.begin(), punch.end());
  EXPECT_EQ(collector.Sync().io_new, 1);
  ExpectHeld(collector.Held(), ever);
  // The cleared log is remembered as seen: later idle cycles read nothing.
  EXPECT_EQ(collector.Sync().io_read, 0);
}

TEST(Reconcile, SwappedUnitWithASlowClockIsCollectedBeforeAnyPrune) {
  SimFleet fleet(35, 1, {.users = 10, .io_records = 300});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)}, "keep_on_terminal = \"60s\"");
  Records ever = fleet.Log(0, LogKind::kIo);
  collector.Sync();
  // The replacement unit at the same address: its own empty log, a clock 30 s
  // behind, and three punches before the collector sees it.
  const auto clock = fleet.Clock(0);
  auto stored = fleet.Terminal(0).Snapshot().stored;
  stored.io_records.clear();
  fleet.Terminal(0).Model().SetStoredRecords(std::move(stored));
  fleet.SetClock(0, Sim(Shifted(clock, 30 + 86400)));
  collector.Sync();  // prunes everything older than 60 s on the old clock's watermark
  fleet.SetClock(0, Sim(Shifted(clock, 86400)));  // the swap: 30 s behind
  const Records punches{IoRecord(Shifted(clock, 86400 - 100), 17), IoRecord(Shifted(clock, 86400 - 90), 18),
                        IoRecord(Shifted(clock, 86400 - 80), 19)};
  fleet.Add(0, LogKind::kIo, punches);
  ever.insert(ever.end(), punches.begin(), punches.end());
  EXPECT_EQ(collector.Sync().io_new, 3);
  ExpectHeld(collector.Held(), ever);
  fleet.SetClock(0, Sim(Shifted(clock, 86400 + 120)));  // the next prune is due
  collector.Sync();
  ExpectHeld(collector.Held(), ever);
  EXPECT_TRUE(fleet.Log(0, LogKind::kIo).empty()) << "held records are pruned once stored";
}

TEST(Reconcile, BackDatedPunchWithPruningIsCollectedThenPrunedNeverAFailure) {
  SimFleet fleet(36, 1, {.users = 10, .io_records = 1000});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)}, "keep_on_terminal = \"0s\"");
  collector.Sync();
  Records ever = collector.Held();
  ASSERT_EQ(ever.size(), 1000u);
  EXPECT_LT(fleet.Log(0, LogKind::kIo).size(), 10u);
  const auto clock = fleet.Clock(0);
  const Records back{IoRecord(Shifted(clock, -2 * 86400), 20)};
  fleet.Add(0, LogKind::kIo, back);
  ever.insert(ever.end(), back.begin(), back.end());
  fleet.SetClock(0, Sim(Shifted(clock, 3700)));  // a prune is due again
  const CycleReport report = collector.Sync();
  EXPECT_EQ(report.io_new, 1);
  ExpectHeld(collector.Held(), ever);
  for (const RawRecord& raw : fleet.Log(0, LogKind::kIo)) EXPECT_NE(raw, back[0]) << "pruned once held";
  EXPECT_EQ(collector.store->State("t1").failures, 0);
  EXPECT_TRUE(collector.Sync().ok);
}

TEST(Reconcile, ADeletedDatabaseFileStopsCommitsAndPruning) {
  SimFleet fleet(37, 1, {.users = 10, .io_records = 600});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)}, "keep_on_terminal = \"0s\"");
  collector.Sync();
  const std::size_t on_terminal = fleet.Log(0, LogKind::kIo).size();
  std::remove((dir.path() + "/att.db").c_str());
  fleet.Add(0, LogKind::kIo, {IoRecord(Shifted(fleet.Clock(0), -1), 21)});
  fleet.SetClock(0, Sim(Shifted(fleet.Clock(0), 3700)));
  const CycleReport report = SyncTerminal(*collector.store, collector.config, collector.config.terminals[0]);
  EXPECT_FALSE(report.ok);
  EXPECT_NE(report.error.find("was deleted"), std::string::npos) << report.error;
  EXPECT_EQ(fleet.Log(0, LogKind::kIo).size(), on_terminal + 1) << "nothing may be pruned into a deleted file";
  EXPECT_THROW(OpenStore(collector.config.store_url, StoreAccess::kWrite), StoreError);
}

TEST(Reconcile, RenameKeepsRecordsAndOneAddressUnderTwoNamesIsRefused) {
  SimFleet fleet(38, 1, {.users = 10, .io_records = 100});
  ScratchDirectory dir;
  {
    Collector collector(dir, {fleet.Address(0)});
    collector.Sync();
  }
  const std::string url = "sqlite:" + dir.path() + "/att.db";
  const std::string renamed = "[store]\nurl = \"" + url + "\"\n[[terminal]]\nname = \"gate\"\ntcp = \"" +
                              fleet.Address(0) + "\"\n";
  auto store = OpenStore(url, StoreAccess::kWrite);
  // Renamed in the config alone: refused, with the way out.
  const CollectorConfig bare = ParseConfig(renamed, dir.path() + "/c.toml");
  try {
    store->RegisterTerminal(bare.terminals[0]);
    ADD_FAILURE() << "a second name for a stored terminal was accepted";
  } catch (const StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("renamed_from = \"t1\""), std::string::npos) << error.what();
  }
  const CollectorConfig config = ParseConfig(renamed + "renamed_from = \"t1\"\n", dir.path() + "/c.toml");
  store->RegisterTerminal(config.terminals[0]);
  const CycleReport report = SyncTerminal(*store, config, config.terminals[0]);
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.io_read, 0);
  const auto held = DatabaseLogs(*store, LogKind::kIo);
  EXPECT_EQ(held.count("t1"), 0u);
  ExpectHeld(held.at("gate"), fleet.Log(0, LogKind::kIo));
  EXPECT_THROW(ParseConfig(renamed + "[[terminal]]\nname = \"twice\"\ntcp = \"" + fleet.Address(0) + "\"\n", "c.toml"),
               ConfigError);
}

TEST(Reconcile, CollectFromStartsTheFirstSyncAndResyncFillsASpan) {
  SimFleet fleet(39, 1, {.users = 10, .io_records = 3000});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0)}, "collect_from = \"2026-03-10\"");
  collector.Sync();
  Records after;
  for (const RawRecord& raw : fleet.Log(0, LogKind::kIo)) {
    if (TimeText(RecordTime(raw)) >= "2026-03-10") after.push_back(raw);
  }
  ASSERT_GT(after.size(), 100u);
  ASSERT_LT(after.size(), 3000u);
  ExpectHeld(collector.Held(), after);
  EXPECT_EQ(collector.Sync().io_read, 0) << "records before collect_from are not a difference";
  const std::int64_t filled = ResyncTerminal(*collector.store, collector.config, collector.config.terminals[0],
                                             *ParseTimeText("2026-03-01"), *ParseTimeText("2026-03-09", true));
  Records expected = after;
  for (const RawRecord& raw : fleet.Log(0, LogKind::kIo)) {
    const std::string at = TimeText(RecordTime(raw));
    if (at >= "2026-03-01" && at < "2026-03-10") expected.push_back(raw);
  }
  EXPECT_EQ(filled, static_cast<std::int64_t>(expected.size() - after.size()));
  ExpectHeld(collector.Held(), expected);
}

TEST(Reconcile, SequenceNumbersFollowCommitOrder) {
  SimFleet fleet(40, 2, {.users = 10, .io_records = 200});
  ScratchDirectory dir;
  Collector collector(dir, {fleet.Address(0), fleet.Address(1)});
  collector.Sync(1);
  collector.Sync(0);
  fleet.Add(1, LogKind::kIo, {IoRecord(Shifted(fleet.Clock(1), -1), 22)});
  collector.Sync(1);
  std::vector<std::pair<std::int64_t, std::string>> rows;
  ExportFilter filter;
  filter.after_seq = 0;
  collector.store->Export(LogKind::kIo, filter, [&](const ExportRow& row) { rows.emplace_back(row.seq, row.terminal); });
  ASSERT_EQ(rows.size(), 401u);
  for (std::size_t i = 1; i < rows.size(); ++i) ASSERT_LT(rows[i - 1].first, rows[i].first);
  EXPECT_EQ(rows[0].second, "t2");
  EXPECT_EQ(rows[200].second, "t1");
  EXPECT_EQ(rows[400].second, "t2") << "the last commit numbers highest";
  filter.after_seq = rows[399].first;
  std::size_t paged = 0;
  collector.store->Export(LogKind::kIo, filter, [&](const ExportRow&) { ++paged; });
  EXPECT_EQ(paged, 1u);
}

}  // namespace
}  // namespace pq640collect

namespace pq640collect {
namespace {

using namespace testing;

TEST(Schedule, TheMostOverdueTerminalComesFirstNotTheFirstListed) {
  ScratchDirectory dir;
  const CollectorConfig config = ParseConfig(
      FleetConfig("sqlite:" + dir.path() + "/att.db", {"127.55.45.1", "127.55.45.2", "127.55.45.3"}, "every = \"5m\""),
      dir.path() + "/c.toml");
  const auto store = OpenStore(config.store_url, StoreAccess::kCreate);
  store->Migrate();
  for (const auto& terminal : config.terminals) store->RegisterTerminal(terminal);
  const std::int64_t now = std::time(nullptr);
  for (const auto& [name, at] : {std::pair{"t1", now - 60}, std::pair{"t2", now - 3600}, std::pair{"t3", now - 600}}) {
    CycleCommit commit;
    commit.terminal = name;
    commit.finished_at = at;
    commit.next_due = at + 300;
    store->Commit(commit);
  }
  EXPECT_EQ(OverdueOrder(*store, config), (std::vector<std::size_t>{1, 2, 0}));
  // A changed `every` counts at once: due is the last success plus the current one.
  CollectorConfig hourly = config;
  hourly.terminals[1].every = std::chrono::seconds(7200);
  EXPECT_EQ(OverdueOrder(*store, hourly), (std::vector<std::size_t>{2, 0, 1}));
}

TEST(Schedule, StatusFlagsFailingOverdueAndDrift) {
  const std::int64_t now = 1'000'000;
  TerminalStatus row;
  row.every_seconds = 300;
  row.max_drift_seconds = 120;
  row.last_success = now - 300 - 299;
  row.clock_drift = 120;
  EXPECT_TRUE(Attention(row, now).empty());
  row.last_success = now - 300 - 301;
  row.clock_drift = -121;
  EXPECT_EQ(Attention(row, now), (std::vector<std::string>{"overdue", "drift"}));
  EXPECT_TRUE(AnyFailingOrOverdue({row}, now));
  row.last_success = now;
  row.failures = 2;
  row.next_due = now + 60;
  row.clock_drift = 0;
  EXPECT_EQ(Attention(row, now), (std::vector<std::string>{"failing"}));
}

}  // namespace
}  // namespace pq640collect
