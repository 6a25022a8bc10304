// SIGKILL at seeded random moments while the collector syncs two terminals
// that keep receiving punches; after each kill nothing may be doubled or
// foreign in the database, and, when the collector prunes the terminals, no
// record may exist nowhere. After the last kill a clean run must leave the
// database equal to every record the terminals ever held.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <random>
#include <thread>

#include "collector_process.h"
#include "sim_fleet.h"

namespace pq640collect {
namespace {

using namespace testing;

constexpr int kWantedKills = 20;
// Rounds whose process finished before its kill do not count; a slow
// (sanitizer) build needs more of them to reach the wanted kills.
constexpr int kMaxRounds = 80;

std::map<RawRecord, int> Counts(const Records& records) {
  std::map<RawRecord, int> counts;
  for (const auto& raw : records) ++counts[raw];
  return counts;
}

struct CrashFleet {
  CrashFleet(int group, bool prune, int workers)
      : fleet(group, 2, {.users = 50, .administrators = 2, .io_records = 20000, .admin_records = 400}),
        prune(prune),
        workers(workers) {
    for (int i = 0; i < fleet.size(); ++i) {
      for (LogKind log : {LogKind::kIo, LogKind::kAdmin}) expected[{i, log}] = fleet.Log(i, log);
    }
    config = dir.Write("c.toml", FleetConfig("sqlite:att.db", {fleet.Address(0), fleet.Address(1)},
                                             prune ? "keep_on_terminal = \"0s\"" : ""));
  }

  // A few punches per terminal, identical twins among them, one second
  // before the clock (never behind a watermark, which trails the clock).
  void Punch(std::mt19937& random) {
    for (int i = 0; i < fleet.size(); ++i) {
      const PQ640_DateTime at = Shifted(fleet.Clock(i), -1);
      Records added;
      const int count = 1 + static_cast<int>(random() % 4);
      for (int k = 0; k < count; ++k) added.push_back(IoRecord(at, 1 + random() % 3, 0, random() % 2));
      fleet.Add(i, LogKind::kIo, added);
      auto& all = expected[{i, LogKind::kIo}];
      all.insert(all.end(), added.begin(), added.end());
    }
  }

  std::unique_ptr<CollectorProcess> Start(const std::string& log) {
    std::vector<std::string> arguments{"run", "--once", "--config", config};
    if (workers > 1) arguments.insert(arguments.end(), {"--workers", std::to_string(workers)});
    return std::make_unique<CollectorProcess>(arguments, log);
  }

  // Between runs: every stored record was on a terminal, none twice beyond
  // its twins; with pruning, every record is in the database or on its terminal.
  void CheckInvariants(const std::string& when) {
    const auto store = OpenStore("sqlite:" + dir.path() + "/att.db");
    for (LogKind log : {LogKind::kIo, LogKind::kAdmin}) {
      const auto held = DatabaseLogs(*store, log);
      for (int i = 0; i < fleet.size(); ++i) {
        const auto name = "t" + std::to_string(i + 1);
        const auto database = Counts(held.count(name) ? held.at(name) : Records{});
        const auto terminal = Counts(fleet.Log(i, log));
        const auto all = Counts(expected[{i, log}]);
        for (const auto& [raw, count] : database) {
          ASSERT_LE(count, all.count(raw) ? all.at(raw) : 0) << when << ": doubled or foreign record in " << name;
        }
        for (const auto& [raw, count] : all) {
          const int in_database = database.count(raw) ? database.at(raw) : 0;
          const int on_terminal = terminal.count(raw) ? terminal.at(raw) : 0;
          ASSERT_LE(count, std::max(in_database, on_terminal)) << when << ": a record of " << name << " exists nowhere";
        }
      }
    }
  }

  void CheckFinal() {
    const auto store = OpenStore("sqlite:" + dir.path() + "/att.db");
    for (LogKind log : {LogKind::kIo, LogKind::kAdmin}) {
      const auto held = DatabaseLogs(*store, log);
      for (int i = 0; i < fleet.size(); ++i) {
        const Records& all = expected[{i, log}];
        EXPECT_EQ(Sorted(held.at("t" + std::to_string(i + 1))), Sorted(all));
        if (prune) {
          EXPECT_LT(fleet.Log(i, log).size(), all.size() / 10) << "pruning left most records in place";
        } else {
          EXPECT_EQ(Sorted(fleet.Log(i, log)), Sorted(all));
        }
      }
    }
  }

  SimFleet fleet;
  ScratchDirectory dir;
  bool prune;
  int workers;
  std::string config;
  std::map<std::pair<int, LogKind>, Records> expected;
};

void KillAndRestart(CrashFleet& crash, unsigned seed) {
  std::mt19937 random(seed);
  // The first run measures how long a whole run takes; kills then land
  // anywhere within that time.
  const auto started = std::chrono::steady_clock::now();
  {
    auto first = crash.Start(crash.dir.path() + "/first.log");
    ASSERT_EQ(first->Wait(std::chrono::seconds(120)), 0) << ReadFile(crash.dir.path() + "/first.log");
  }
  const auto run_ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  crash.CheckInvariants("after the first run");

  int kills = 0;
  for (int round = 0; round < kMaxRounds && kills < kWantedKills; ++round) {
    crash.Punch(random);
    const std::string log = crash.dir.path() + "/round-" + std::to_string(round) + ".log";
    auto process = crash.Start(log);
    const auto delay = std::chrono::milliseconds(random() % static_cast<unsigned>(run_ms + 1));
    if (!process->Wait(delay)) {
      process->Signal(SIGKILL);
      ++kills;
    }
    const auto status = process->Wait(std::chrono::seconds(30));
    ASSERT_TRUE(status == 0 || status == -SIGKILL) << ReadFile(log);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // workers follow their collector
    crash.CheckInvariants("round " + std::to_string(round));
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GE(kills, kWantedKills);
  ::testing::Test::RecordProperty("kills", kills);
  std::cout << "kills: " << kills << "\n";
  // Punches of the last second are inside the next range only once the
  // terminal clock has moved past them.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  auto last = crash.Start(crash.dir.path() + "/last.log");
  ASSERT_EQ(last->Wait(std::chrono::seconds(120)), 0) << ReadFile(crash.dir.path() + "/last.log");
  crash.CheckFinal();
}

TEST(CrashTest, SigkillAnywhereLosesAndDoublesNothing) {
  CrashFleet crash(11, false, 1);
  KillAndRestart(crash, 20261208);
}

TEST(CrashTest, SigkillWhilePruningTheTerminalsLeavesEveryRecordSomewhere) {
  CrashFleet crash(12, true, 2);
  KillAndRestart(crash, 640);
}

}  // namespace
}  // namespace pq640collect
