// pq640-collect-bench: how the collector compares with the library's own
// bulk read, and how long a cycle over a simulated fleet takes.
//   1. One terminal with N IO records: the library's count and read of the
//      whole log (what any host must do) against a collector cycle that
//      stores the same records in a fresh SQLite database. Target: ≤ 2×.
//   2. A fleet of simulated terminals, each given new records before every
//      cycle; `pq640-collect run --once --workers W` is timed per cycle.
// Everything stays on loopback (127.55.200.x and 127.55.201.x).
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#include "config_file.h"
#include "pq640sim/simulator.h"
#include "store.h"
#include "sync_cycle.h"
#include "terminal_link.h"

namespace {

using namespace pq640collect;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::string Scratch() {
  std::string pattern = std::filesystem::temp_directory_path() / "pq640-collect-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

double LibraryRead(const std::string& address, std::uint32_t expected) {
  PQ640_SetTerminalIPAddr(address.c_str());
  PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2);
  PQ640_SetTerminalID(0);
  const PQ640_RecordQuery query = RangeQuery(std::nullopt, kFirstSecond, PQ640_DateTime{99, 12, 31, 23, 59, 59});
  std::vector<PQ640_IORecord> records(ReadCapacity(expected, expected + 1024));
  const auto start = Clock::now();
  std::uint32_t count = 0;
  if (PQ640_OpenPort() != PQ640_OK || PQ640_GetIORecordNum(&query, &count) != PQ640_OK || count != expected ||
      PQ640_GetIORecordBounded(&query, static_cast<std::uint32_t>(records.size()), &count, records.data(), nullptr) !=
          PQ640_OK ||
      count != expected) {
    throw std::runtime_error("the library's read failed");
  }
  PQ640_ClosePort();
  return Seconds(start);
}

double CollectorCycle(const std::string& address, std::uint32_t expected, bool admin_log) {
  const std::string dir = Scratch();
  const std::string text = "[store]\nurl = \"sqlite:att.db\"\n[[terminal]]\nname = \"bench\"\ntcp = \"" + address +
                           "\"\nadmin_log = " + (admin_log ? "true" : "false") + "\n";
  const CollectorConfig config = ParseConfig(text, dir + "/c.toml");
  const auto store = OpenStore(config.store_url, StoreAccess::kCreate);
  store->Migrate();
  store->RegisterTerminal(config.terminals[0]);
  const auto start = Clock::now();
  const CycleReport report = SyncTerminal(*store, config, config.terminals[0]);
  const double seconds = Seconds(start);
  if (!report.ok || report.io_read != expected) throw std::runtime_error("collector cycle failed: " + report.error);
  std::filesystem::remove_all(dir);
  return seconds;
}

// The database's share of a cycle: the same rows committed on their own.
double StoreOnly(const std::vector<pq640sim::LogRecord>& log) {
  const std::string dir = Scratch();
  const CollectorConfig config = ParseConfig(
      "[store]\nurl = \"sqlite:att.db\"\n[[terminal]]\nname = \"bench\"\ntcp = \"127.55.200.1\"\n", dir + "/c.toml");
  const auto store = OpenStore(config.store_url, StoreAccess::kCreate);
  store->Migrate();
  store->RegisterTerminal(config.terminals[0]);
  const std::vector<RawRecord> raws(log.begin(), log.end());
  const auto start = Clock::now();
  CycleCommit commit;
  commit.terminal = "bench";
  const auto twins = DuplicateIndexes(raws);
  for (std::size_t i = 0; i < raws.size(); ++i) commit.io_rows.push_back(LogRow{raws[i], twins[i], std::nullopt});
  store->Commit(commit);
  const double seconds = Seconds(start);
  std::filesystem::remove_all(dir);
  return seconds;
}

int SingleTerminal(std::uint32_t records, int runs) {
  pq640sim::SimulatorOptions options;
  options.generated.users = 1000;
  options.generated.io_records = records;
  pq640sim::Simulator terminal(options);
  if (!terminal.StartTcp("127.55.200.1")) throw std::runtime_error(terminal.LastError());
  std::vector<double> library, collector, with_admin;
  LibraryRead("127.55.200.1", records);  // warm-up
  for (int i = 0; i < runs; ++i) {
    library.push_back(LibraryRead("127.55.200.1", records));
    collector.push_back(CollectorCycle("127.55.200.1", records, false));
  }
  for (int i = 0; i < std::max(1, runs / 3); ++i) with_admin.push_back(CollectorCycle("127.55.200.1", records, true));
  std::vector<double> storing;
  const auto log = terminal.Snapshot().stored.io_records;
  for (int i = 0; i < runs; ++i) storing.push_back(StoreOnly(log));
  const double ratio = Median(collector) / Median(library);
  std::printf("| Side | Commands | Median of %d |\n|---|---|---:|\n", runs);
  std::printf("| Library: count + read of %u IO records | 2 | %.3f s |\n", records, Median(library));
  std::printf("| Collector cycle into fresh SQLite (IO log only) | 3: clock, count, read | %.3f s |\n",
              Median(collector));
  std::printf("| Collector cycle, administrator log too (informational) | 5 | %.3f s |\n", Median(with_admin));
  std::printf("| Of a cycle: twin positions and the SQLite commit alone (informational) | 0 | %.3f s |\n\n",
              Median(storing));
  std::printf("Collector / library: %.2fx (target <= 2x: %s)\n\n", ratio, ratio <= 2.0 ? "met" : "**missed**");
  return ratio <= 2.0 ? 0 : 2;
}

int RunOnce(const std::string& collect, const std::string& config, int workers) {
  std::fflush(stdout);  // the child's freopen would write the buffer again
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string log = config + ".log";
    std::freopen(log.c_str(), "a", stdout);
    execl(collect.c_str(), collect.c_str(), "run", "--once", "--workers", std::to_string(workers).c_str(), "--config",
          config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// Steady state: a terminal with a month of punches, already collected, and
// nothing new. The cycle costs the commands that find out nothing changed.
double IdleTerminal(int runs) {
  pq640sim::SimulatorOptions options;
  options.generated.users = 100;
  options.generated.io_records = 5000;
  options.generated.admin_records = 100;
  pq640sim::Simulator terminal(options);
  if (!terminal.StartTcp("127.55.200.2")) throw std::runtime_error(terminal.LastError());
  const std::string dir = Scratch();
  const CollectorConfig config =
      ParseConfig("[store]\nurl = \"sqlite:att.db\"\n[[terminal]]\nname = \"idle\"\ntcp = \"127.55.200.2\"\n",
                  dir + "/c.toml");
  const auto store = OpenStore(config.store_url, StoreAccess::kCreate);
  store->Migrate();
  store->RegisterTerminal(config.terminals[0]);
  if (!SyncTerminal(*store, config, config.terminals[0]).ok) throw std::runtime_error("first sync failed");
  std::vector<double> cycles;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    const CycleReport report = SyncTerminal(*store, config, config.terminals[0]);
    cycles.push_back(Seconds(start));
    if (!report.ok || report.io_read != 0) throw std::runtime_error("idle cycle read records: " + report.error);
  }
  std::filesystem::remove_all(dir);
  return Median(cycles);
}

void Fleet(const std::string& collect, int size, int per_cycle, int cycles, int workers, bool idle) {
  std::vector<std::unique_ptr<pq640sim::Simulator>> fleet;
  std::string text = "[store]\nurl = \"sqlite:att.db\"\n";
  for (int i = 0; i < size; ++i) {
    pq640sim::SimulatorOptions options;
    options.generated.users = static_cast<std::size_t>(per_cycle);
    options.generated.io_records = static_cast<std::size_t>(per_cycle);
    fleet.push_back(std::make_unique<pq640sim::Simulator>(options));
    const std::string address = "127.55.201." + std::to_string(i + 1);
    if (!fleet.back()->StartTcp(address)) throw std::runtime_error(fleet.back()->LastError());
    text += "[[terminal]]\nname = \"t" + std::to_string(i + 1) + "\"\ntcp = \"" + address + "\"\n";
  }
  const std::string dir = Scratch();
  const std::string config = dir + "/c.toml";
  std::ofstream(config) << text;
  std::printf("| Cycle | New records per terminal | Workers | Cycle time |\n|---:|---:|---:|---:|\n");
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle > 0 && !idle) {
      // New punches, one second before each terminal's clock (past the
      // last watermark, inside the next range once the clock moves on).
      for (auto& terminal : fleet) {
        auto stored = terminal->Snapshot().stored;
        const auto now = terminal->Snapshot().terminal_time;
        for (int k = 0; k < per_cycle; ++k) {
          pq640sim::LogRecord record{};
          record[0] = now.year;
          record[1] = now.month;
          record[2] = now.day;
          record[3] = now.hour;
          record[4] = now.minute;
          record[5] = now.second;
          record[6] = static_cast<std::uint8_t>(k);
          record[7] = static_cast<std::uint8_t>(k >> 8);
          record[12] = static_cast<std::uint8_t>(cycle);
          stored.io_records.push_back(record);
        }
        terminal->Model().SetStoredRecords(std::move(stored));
      }
      std::this_thread::sleep_for(std::chrono::seconds(3));
    }
    const auto start = Clock::now();
    if (RunOnce(collect, config, workers) != 0) throw std::runtime_error("a fleet cycle failed; see " + config + ".log");
    std::printf("| %d%s | %d | %d | %.1f s |\n", cycle + 1, cycle == 0 ? " (first sync)" : "",
                cycle > 0 && idle ? 0 : per_cycle, workers,
                Seconds(start));
    std::fflush(stdout);
  }
  std::printf("\n");
  std::filesystem::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Collector benchmark: against the library's bulk read, and a fleet cycle"};
  std::uint32_t records = 100000;
  int runs = 7;
  std::string collect;
  int fleet_size = 50, per_cycle = 2000, cycles = 3, workers = 4;
  bool no_fleet = false, idle = false;
  app.add_option("--records", records, "IO records on the single terminal")->capture_default_str();
  app.add_option("--runs", runs, "Paired runs of the single-terminal part")->capture_default_str();
  app.add_option("--collect", collect, "Path of pq640-collect (for the fleet part)");
  app.add_option("--fleet", fleet_size, "Simulated terminals in the fleet")->check(CLI::Range(1, 250))->capture_default_str();
  app.add_option("--per-cycle", per_cycle, "New IO records per terminal and cycle")->capture_default_str();
  app.add_option("--cycles", cycles, "Fleet cycles")->capture_default_str();
  app.add_option("--workers", workers, "Workers of the fleet run")->capture_default_str();
  app.add_flag("--no-fleet", no_fleet, "Only the single-terminal part");
  app.add_flag("--idle", idle,
               "Steady state instead: an idle terminal's cycle, and fleet cycles with nothing new after the first");
  CLI11_PARSE(app, argc, argv);
  try {
    int status = 0;
    if (idle) {
      std::printf("Idle terminal (5000 IO records held, nothing new), median of %d cycles: %.3f s\n\n", runs,
                  IdleTerminal(runs));
    } else {
      status = SingleTerminal(records, runs);
    }
    if (!no_fleet) {
      if (collect.empty()) throw std::runtime_error("--collect PATH is needed for the fleet part");
      Fleet(collect, fleet_size, per_cycle, cycles, workers, idle);
    }
    return status;
  } catch (const std::exception& error) {
    std::cerr << "pq640-collect-bench: " << error.what() << "\n";
    return 1;
  }
}
