// PostgreSQL: two collectors with two workers each share twenty terminals,
// a restart under a running collector, and claims across a restart.
// Needs a server: scripts/pg-test-cluster starts a throw-away one on
// loopback and passes its URL in PQ640_TEST_POSTGRES_URL; without it the
// test is skipped.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <thread>

#include "collector_process.h"
#include "sim_fleet.h"

namespace pq640collect {
namespace {

using namespace testing;

std::optional<std::string> ServerUrl() {
  const char* url = std::getenv("PQ640_TEST_POSTGRES_URL");
  if (url == nullptr || *url == '\0') return std::nullopt;
  return std::string(url);
}

void Administer(const std::string& server, const std::string& sql) {
  PGconn* connection = PQconnectdb(server.c_str());
  ASSERT_EQ(PQstatus(connection), CONNECTION_OK) << PQerrorMessage(connection);
  PQclear(PQexec(connection, "SET client_min_messages = warning"));
  PGresult* result = PQexec(connection, sql.c_str());
  const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  const std::string error = PQresultErrorMessage(result);
  PQclear(result);
  PQfinish(connection);
  ASSERT_TRUE(ok) << sql << ": " << error;
}

// A database of its own on the test server, dropped afterwards.
class FreshDatabase {
 public:
  FreshDatabase(const std::string& server, const std::string& purpose)
      : server_(server), name_("pq640_" + purpose + "_" + std::to_string(getpid())) {
    Administer(server_, "DROP DATABASE IF EXISTS " + name_);
    Administer(server_, "CREATE DATABASE " + name_);
  }
  ~FreshDatabase() { Administer(server_, "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"); }
  FreshDatabase(const FreshDatabase&) = delete;
  FreshDatabase& operator=(const FreshDatabase&) = delete;
  std::string Url() const { return server_.substr(0, server_.rfind('/') + 1) + name_; }

 private:
  std::string server_;
  std::string name_;
};

std::vector<std::string> Addresses(SimFleet& fleet) {
  std::vector<std::string> addresses;
  for (int i = 0; i < fleet.size(); ++i) addresses.push_back(fleet.Address(i));
  return addresses;
}

void Punch(SimFleet& fleet, int round) {
  for (int i = 0; i < fleet.size(); ++i) {
    const PQ640_DateTime at = Shifted(fleet.Clock(i), -1);
    fleet.Add(i, LogKind::kIo, {IoRecord(at, 3), IoRecord(at, 3), IoRecord(at, 4, 1, static_cast<std::uint32_t>(round))});
  }
}

TEST(PostgresFleet, TwoCollectorsWithTwoWorkersEachShareTwentyTerminals) {
  const auto server = ServerUrl();
  if (!server) GTEST_SKIP() << "no PostgreSQL server (run under scripts/pg-test-cluster)";
  SimFleet fleet(20, 20, {.users = 10, .administrators = 1, .io_records = 1000, .admin_records = 20});
  ScratchDirectory dir;
  FreshDatabase shared(*server, "shared");
  FreshDatabase alone(*server, "alone");
  const std::string shared_config = dir.Write("shared.toml", FleetConfig(shared.Url(), Addresses(fleet)));
  const std::string claims = dir.path() + "/claims.log";

  // Two rounds: the first sync, then new punches; both collectors start
  // together each time (and migrate the fresh database together).
  for (int round = 0; round < 2; ++round) {
    if (round > 0) {
      Punch(fleet, round);
      std::this_thread::sleep_for(std::chrono::seconds(3));  // past the range's end
    }
    const std::vector<std::string> arguments{"run", "--once", "--workers", "2", "--config", shared_config,
                                             "--claim-log", claims};
    CollectorProcess first(arguments, dir.path() + "/first.log");
    CollectorProcess second(arguments, dir.path() + "/second.log");
    ASSERT_EQ(first.Wait(std::chrono::seconds(150)), 0) << ReadFile(dir.path() + "/first.log");
    ASSERT_EQ(second.Wait(std::chrono::seconds(150)), 0) << ReadFile(dir.path() + "/second.log");
  }
  const auto spans = ReadClaims(claims);
  ExpectNoOverlap(spans);
  std::set<long> processes;
  for (const auto& span : spans) processes.insert(span.pid);
  EXPECT_GE(processes.size(), 4u) << "all four workers should have taken terminals";

  // One collector alone, over the same terminals, fills its own database.
  const std::string alone_config = dir.Write("alone.toml", FleetConfig(alone.Url(), Addresses(fleet)));
  const Finished single = RunCollector({"run", "--once", "--workers", "2", "--config", alone_config}, dir.path(),
                                       std::chrono::seconds(150));
  ASSERT_EQ(single.status, 0) << single.output;

  const auto shared_store = OpenStore(shared.Url());
  const auto alone_store = OpenStore(alone.Url());
  for (LogKind log : {LogKind::kIo, LogKind::kAdmin}) {
    auto together = DatabaseLogs(*shared_store, log);
    auto by_one = DatabaseLogs(*alone_store, log);
    ASSERT_EQ(together.size(), 20u);
    for (int i = 0; i < fleet.size(); ++i) {
      const std::string name = "t" + std::to_string(i + 1);
      const Records terminal = Sorted(fleet.Log(i, log));
      EXPECT_EQ(Sorted(together[name]), terminal) << name;
      EXPECT_EQ(Sorted(by_one[name]), terminal) << name;
    }
  }
  const auto status = shared_store->Status();
  ASSERT_EQ(status.size(), 20u);
  for (const auto& row : status) EXPECT_EQ(row.io_records, 1003) << row.name;
}

// The server restarts under a collector with one worker (the default): the
// cycles in between fail with the server's words and their back-off, the
// collector keeps running, and every punch arrives once the server is back.
TEST(PostgresFleet, ARestartUnderOneWorkerIsWaitedOutWithoutAnExit) {
  const auto server = ServerUrl();
  const char* restart = std::getenv("PQ640_TEST_POSTGRES_RESTART");
  if (!server || restart == nullptr) GTEST_SKIP() << "no PostgreSQL server (run under scripts/pg-test-cluster)";
  SimFleet fleet(21, 2, {.users = 10, .io_records = 200, .admin_records = 0});
  ScratchDirectory dir;
  FreshDatabase database(*server, "restart");
  const std::string config = dir.Write(
      "c.toml", "[collector]\nretry = \"1s\"\nretry_max = \"2s\"\n" +
                    FleetConfig(database.Url(), Addresses(fleet), "every = \"1s\"\nadmin_log = false"));
  const std::string log = dir.path() + "/run.log";
  CollectorProcess process({"run", "--config", config}, log);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_EQ(std::system(restart), 0);
  Punch(fleet, 1);
  std::this_thread::sleep_for(std::chrono::seconds(8));
  EXPECT_FALSE(process.Wait(std::chrono::milliseconds(0)).has_value()) << "ended: " << ReadFile(log);
  process.Signal(SIGTERM);
  ASSERT_EQ(process.Wait(std::chrono::seconds(30)), 0) << ReadFile(log);
  const std::string output = ReadFile(log);
  EXPECT_EQ(output.find("PostgreSQL: \n"), std::string::npos) << "an error without its text: " << output;
  const auto store = OpenStore(database.Url());
  const auto held = DatabaseLogs(*store, LogKind::kIo);
  for (int i = 0; i < fleet.size(); ++i) {
    EXPECT_EQ(Sorted(held.at("t" + std::to_string(i + 1))), Sorted(fleet.Log(i, LogKind::kIo)));
  }
}

// A restart ends every session and with it every advisory lock. A claim a
// worker still holds is taken again with its connection; when another
// collector took it in between, the worker's cycle ends with an error rather
// than go on beside that collector, and its lost claim releases nothing.
TEST(PostgresFleet, AClaimIsTakenAgainAfterARestartOrItsCycleEnds) {
  const auto server = ServerUrl();
  const char* restart = std::getenv("PQ640_TEST_POSTGRES_RESTART");
  if (!server || restart == nullptr) GTEST_SKIP() << "no PostgreSQL server (run under scripts/pg-test-cluster)";
  FreshDatabase database(*server, "claims");
  const auto first = OpenStore(database.Url());
  const auto second = OpenStore(database.Url());
  first->Migrate();
  // The statement that meets the dead session fails; the one after it opens
  // the connection again. The errors of both are returned.
  const auto after_restart = [](Store& store) {
    std::string errors;
    for (int attempt = 0; attempt < 2; ++attempt) {
      try {
        store.Status();
      } catch (const StoreError& error) {
        errors += std::string(error.what()) + "\n";
      }
    }
    return errors;
  };

  auto claim = first->TryClaim("t1");
  ASSERT_TRUE(claim);
  ASSERT_EQ(std::system(restart), 0);
  after_restart(*second);
  EXPECT_EQ(after_restart(*first).find("another collector"), std::string::npos);
  EXPECT_NO_THROW(first->Status());
  EXPECT_FALSE(second->TryClaim("t1")) << "the restart handed a held claim to another collector";

  ASSERT_EQ(std::system(restart), 0);
  after_restart(*second);
  auto taken = second->TryClaim("t1");
  ASSERT_TRUE(taken);
  EXPECT_NE(after_restart(*first).find("another collector claimed this worker's terminal"), std::string::npos);
  claim.reset();
  EXPECT_FALSE(first->TryClaim("t1")) << "the other collector holds it";
  taken.reset();
  EXPECT_TRUE(first->TryClaim("t1"));
}

}  // namespace
}  // namespace pq640collect
