// The program itself: run --once with workers, the scheduled run with a dead
// terminal among good ones, status and export, and a refused config.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "collector_process.h"
#include "sim_fleet.h"

namespace pq640collect {
namespace {

using namespace testing;

TEST(RunCommand, OnceWithTwoWorkersSyncsEveryTerminalOnce) {
  SimFleet fleet(8, 4, {.users = 10, .administrators = 1, .io_records = 800, .admin_records = 20});
  ScratchDirectory dir;
  std::vector<std::string> addresses;
  for (int i = 0; i < fleet.size(); ++i) addresses.push_back(fleet.Address(i));
  const std::string config = dir.Write("c.toml", FleetConfig("sqlite:att.db", addresses));
  const std::string claims = dir.path() + "/claims.log";
  const Finished run = RunCollector({"run", "--once", "--workers", "2", "--config", config, "--claim-log", claims}, dir.path());
  ASSERT_EQ(run.status, 0) << run.output;

  const auto spans = ReadClaims(claims);
  ASSERT_EQ(spans.size(), 4u);
  std::set<std::string> terminals;
  std::set<long> workers;
  for (const auto& span : spans) {
    terminals.insert(span.terminal);
    workers.insert(span.pid);
  }
  EXPECT_EQ(terminals.size(), 4u);
  EXPECT_EQ(workers.size(), 2u) << "both workers should have taken terminals";
  ExpectNoOverlap(spans);

  const auto store = OpenStore("sqlite:" + dir.path() + "/att.db");
  const auto held = DatabaseLogs(*store, LogKind::kIo);
  for (int i = 0; i < fleet.size(); ++i) {
    EXPECT_EQ(Sorted(held.at("t" + std::to_string(i + 1))), Sorted(fleet.Log(i, LogKind::kIo)));
  }
}

TEST(RunCommand, ScheduledRunRetriesADeadTerminalWithBackoffAndStopsOnSigterm) {
  SimFleet fleet(9, 1, {.users = 10, .io_records = 100});
  ScratchDirectory dir;
  const std::string config = dir.Write(
      "c.toml", "[store]\nurl = \"sqlite:att.db\"\n[collector]\nretry = \"1s\"\nretry_max = \"2s\"\n"
                "[[terminal]]\nname = \"dead\"\ntcp = \"127.55.9.200\"\nevery = \"1s\"\n"
                "[[terminal]]\nname = \"live\"\ntcp = \"" + fleet.Address(0) + "\"\nevery = \"1s\"\n");
  const std::string claims = dir.path() + "/claims.log";
  CollectorProcess process({"run", "--workers", "2", "--config", config, "--claim-log", claims}, dir.path() + "/run.log");
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const auto clock = fleet.Clock(0);
  fleet.Add(0, LogKind::kIo, {IoRecord(Shifted(clock, -1), 5), IoRecord(Shifted(clock, -1), 5)});
  std::this_thread::sleep_for(std::chrono::seconds(4));
  process.Signal(SIGTERM);
  const auto status = process.Wait(std::chrono::seconds(30));
  ASSERT_TRUE(status.has_value()) << "did not stop on SIGTERM";
  EXPECT_EQ(*status, 0) << ReadFile(dir.path() + "/run.log");

  std::map<std::string, int> cycles;
  for (const auto& span : ReadClaims(claims)) ++cycles[span.terminal];
  EXPECT_GE(cycles["live"], 3) << "a due terminal is synced again and again";
  EXPECT_GE(cycles["dead"], 2);
  // retry 1 s, then 2 s, then 2 s: no more than one attempt a second in 7 s.
  EXPECT_LE(cycles["dead"], 8);
  const auto store = OpenStore("sqlite:" + dir.path() + "/att.db");
  EXPECT_EQ(Sorted(DatabaseLogs(*store, LogKind::kIo)["live"]), Sorted(fleet.Log(0, LogKind::kIo)));
  const auto states = store->Status();
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[0].name, "dead");
  EXPECT_GE(states[0].failures, 2);
  EXPECT_EQ(states[1].failures, 0);
}

TEST(RunCommand, StatusAndExportReportWhatTheDatabaseHolds) {
  SimFleet fleet(10, 1, {.users = 10, .administrators = 2, .io_records = 300, .admin_records = 30});
  ScratchDirectory dir;
  const std::string config = dir.Write("c.toml", FleetConfig("sqlite:att.db", {fleet.Address(0)}));
  ASSERT_EQ(RunCollector({"run", "--once", "--config", config}, dir.path()).status, 0);

  const Finished status = RunCollector({"status", "--json", "--config", config}, dir.path());
  ASSERT_EQ(status.status, 0) << status.output;
  const auto report = nlohmann::json::parse(status.output);
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0]["terminal"], "t1");
  EXPECT_EQ(report[0]["io_records"], 300);
  EXPECT_EQ(report[0]["admin_records"], 30);
  EXPECT_TRUE(report[0]["last_error"].is_null());
  EXPECT_LE(report[0]["lag_seconds"].get<int>(), 60);

  // The generated logs span the 30 days before 15 March; a day of them.
  const Finished csv = RunCollector({"export", "--since", "2026-03-01", "--until", "2026-03-01", "--config", config}, dir.path());
  ASSERT_EQ(csv.status, 0);
  // The shared record vocabulary (docs/records.md): the record's own columns
  // in its order, decoded from its bytes, in time order.
  std::string expected = "time,user_id,verification,in_out_state,work_code\n";
  std::size_t day_records = 0;
  for (const auto& raw : fleet.Log(0, LogKind::kIo)) {
    if (TimeText(RecordTime(raw)).rfind("2026-03-01", 0) != 0) continue;
    const IoFields fields = DecodeIo(raw);
    expected += TimeText(RecordTime(raw)) + "," + std::to_string(fields.user_id) + "," +
                std::to_string(fields.verification) + "," + std::to_string(fields.in_out) + "," +
                std::to_string(fields.work_code) + "\n";
    ++day_records;
  }
  ASSERT_GT(day_records, 0u);
  EXPECT_EQ(csv.output, expected);

  // The collector's own columns only when asked for, after the record's.
  const Finished extra = RunCollector(
      {"export", "--since", "2026-03-01", "--until", "2026-03-01", "--extra", "--terminal", "t1", "--config", config},
      dir.path());
  ASSERT_EQ(extra.status, 0);
  std::istringstream lines(extra.output);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "time,user_id,verification,in_out_state,work_code,terminal,utc_time,utc_ambiguous,seq,late,raw");
  std::size_t rows = 0;
  while (std::getline(lines, line)) {
    EXPECT_NE(line.find(",t1,,0,"), std::string::npos) << line;
    ++rows;
  }
  EXPECT_EQ(rows, day_records);
  const Finished other = RunCollector({"export", "--terminal", "t2", "--config", config}, dir.path());
  EXPECT_EQ(other.output, "time,user_id,verification,in_out_state,work_code\n");

  const Finished json = RunCollector({"export", "--since", "2000-01-01", "--json", "--admin", "--config", config}, dir.path());
  ASSERT_EQ(json.status, 0);
  EXPECT_EQ(nlohmann::json::parse(json.output).size(), 30u);
  EXPECT_EQ(RunCollector({"export", "--since", "yesterday", "--config", config}, dir.path()).status, 2);
}

TEST(RunCommand, RefusesAConfigWithoutAnAddressAndSaysWhere) {
  ScratchDirectory dir;
  const std::string config = dir.Write("c.toml", "[store]\nurl = \"sqlite:att.db\"\n\n[[terminal]]\nname = \"x\"\n");
  const Finished run = RunCollector({"run", "--once", "--config", config}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find(config + ":4: terminal \"x\".tcp: give exactly one of"), std::string::npos) << run.output;
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/att.db")) << "nothing may start with a bad config";
}

}  // namespace
}  // namespace pq640collect
