// The program against a terminal that announces more records than it counted
// (as if punches arrived between the count and the read, or a hostile
// peer): it fails only that terminal's cycle, with its back-off, and every
// other terminal is collected in the same run. Also status as monitoring
// reads it, and SIGHUP.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "collector_process.h"
#include "sim_fleet.h"
#include "sync_cycle.h"

namespace pq640collect {
namespace {

using namespace testing;

TEST(HostileTerminal, AnnouncingMoreThanTheCeilingFailsOnlyItsOwnCycle) {
  SimFleet fleet(41, 2, {.users = 10, .administrators = 1, .io_records = 300, .admin_records = 10});
  pq640sim::Faults surplus;
  surplus.count_surplus = 0xFFFFFFFFu;  // saturates: the largest count there is
  fleet.Terminal(0).SetFaults(surplus);
  ScratchDirectory dir;
  const std::string config = dir.Write(
      "c.toml", "[store]\nurl = \"sqlite:att.db\"\n[[terminal]]\nname = \"hostile\"\ntcp = \"" + fleet.Address(0) +
                    "\"\n[[terminal]]\nname = \"healthy\"\ntcp = \"" + fleet.Address(1) + "\"\n");
  const Finished run = RunCollector({"run", "--once", "--config", config}, dir.path());
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("terminal \"hostile\" announced 4294967295 records in one read, above the ceiling of "
                            "1000000"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("next attempt"), std::string::npos) << "--once makes no further attempt";

  const auto store = OpenStore("sqlite:" + dir.path() + "/att.db");
  const auto held = DatabaseLogs(*store, LogKind::kIo);
  EXPECT_EQ(Sorted(held.at("healthy")), Sorted(fleet.Log(1, LogKind::kIo)));
  EXPECT_EQ(held.count("hostile"), 0u);
  const SyncState hostile = store->State("hostile");
  EXPECT_EQ(hostile.failures, 1);
  ASSERT_TRUE(hostile.next_due.has_value());
  EXPECT_GE(*hostile.next_due - *hostile.last_attempt, 30) << "the failure carries its back-off";

  // status names the failure and exits non-zero for monitoring.
  const Finished status = RunCollector({"status", "--json", "--config", config}, dir.path());
  EXPECT_EQ(status.status, 3) << status.output;
  const auto report = nlohmann::json::parse(status.output);
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[1]["terminal"], "hostile");
  EXPECT_EQ(report[1]["failures"], 1);
  EXPECT_NE(report[1]["last_error"].get<std::string>().find("ceiling"), std::string::npos);
  EXPECT_EQ(report[1]["attention"][0], "failing");
  for (const auto& flag : report[0]["attention"]) EXPECT_NE(flag, "failing");
}

TEST(HostileTerminal, ASurplusWithinTheCeilingIsReadAfterResizing) {
  SimFleet fleet(42, 1, {.users = 10, .io_records = 100, .admin_records = 0});
  ScratchDirectory dir;
  const CollectorConfig config = ParseConfig(
      FleetConfig("sqlite:" + dir.path() + "/att.db", {fleet.Address(0)}, "admin_log = false"), dir.path() + "/c.toml");
  const auto store = OpenStore(config.store_url, StoreAccess::kCreate);
  store->Migrate();
  store->RegisterTerminal(config.terminals[0]);
  pq640sim::Faults surplus;
  surplus.count_surplus = 500;  // past the first array's room: -105, then one read more
  fleet.Terminal(0).SetFaults(surplus);
  const CycleReport report = SyncTerminal(*store, config, config.terminals[0]);
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.io_read, 600);

  // A ceiling below the announced count: refused, named, nothing stored.
  CollectorConfig tight = config;
  tight.max_read_records = 200;
  surplus.count_surplus = 1000;
  fleet.Terminal(0).SetFaults(surplus);
  fleet.Add(0, LogKind::kIo, {IoRecord(Shifted(fleet.Clock(0), -1), 9)});
  const CycleReport refused = SyncTerminal(*store, tight, tight.terminals[0]);
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(refused.error.find("terminal \"t1\" announced 10"), std::string::npos) << refused.error;
  EXPECT_NE(refused.error.find(" records in one read, above the ceiling of 200"), std::string::npos) << refused.error;
}

TEST(HostileTerminal, ALogLargerThanTheCeilingIsReadInSpansBelowIt) {
  SimFleet fleet(45, 1, {.users = 10, .io_records = 1000, .admin_records = 0});
  ScratchDirectory dir;
  CollectorConfig config = ParseConfig(
      FleetConfig("sqlite:" + dir.path() + "/att.db", {fleet.Address(0)}, "admin_log = false"), dir.path() + "/c.toml");
  config.max_read_records = 300;
  const auto store = OpenStore(config.store_url, StoreAccess::kCreate);
  store->Migrate();
  store->RegisterTerminal(config.terminals[0]);
  const CycleReport report = SyncTerminal(*store, config, config.terminals[0]);
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.io_new, 1000);
  EXPECT_EQ(Sorted(DatabaseLogs(*store, LogKind::kIo)["t1"]), Sorted(fleet.Log(0, LogKind::kIo)));
  EXPECT_EQ(SyncTerminal(*store, config, config.terminals[0]).io_read, 0);
}

TEST(HostileTerminal, StatusAndExportNeverCreateOrMigrateADatabase) {
  ScratchDirectory dir;
  const std::string config = dir.Write("c.toml", FleetConfig("sqlite:att.db", {"127.55.43.1"}));
  const Finished status = RunCollector({"status", "--config", config}, dir.path());
  EXPECT_EQ(status.status, 1);
  EXPECT_NE(status.output.find("there is no database"), std::string::npos) << status.output;
  EXPECT_EQ(RunCollector({"export", "--config", config}, dir.path()).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/att.db"));
}

TEST(HostileTerminal, SighupReloadsTheConfigurationAndAChangedEveryTakesEffect) {
  SimFleet fleet(44, 1, {.users = 10, .io_records = 50});
  ScratchDirectory dir;
  const std::string text = FleetConfig("sqlite:att.db", {fleet.Address(0)}, "every = \"1h\"");
  const std::string config = dir.Write("c.toml", text);
  const std::string claims = dir.path() + "/claims.log";
  CollectorProcess process({"run", "--config", config, "--claim-log", claims}, dir.path() + "/run.log");
  std::this_thread::sleep_for(std::chrono::seconds(2));
  dir.Write("c.toml", FleetConfig("sqlite:att.db", {fleet.Address(0)}, "every = \"1s\""));
  process.Signal(SIGHUP);
  std::this_thread::sleep_for(std::chrono::seconds(4));
  process.Signal(SIGTERM);
  const auto status = process.Wait(std::chrono::seconds(30));
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0) << ReadFile(dir.path() + "/run.log");
  EXPECT_GE(ReadClaims(claims).size(), 3u) << ReadFile(dir.path() + "/run.log");
  EXPECT_NE(ReadFile(dir.path() + "/run.log").find("configuration reloaded"), std::string::npos);
}

}  // namespace
}  // namespace pq640collect
