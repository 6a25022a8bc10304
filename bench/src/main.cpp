// pq640-bench: times the library's bulk transfers against a raw socket reader
// of the same bytes, and end to end against the simulator, and prints the
// results as Markdown. Loopback only: every server here listens on 127.88.0.x.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "paired_runs.h"
#include "replay_server.h"
#include "report.h"
#include "scenarios.h"
#include "sides.h"
#include "simulator_terminal.h"

namespace pq640bench {
namespace {

constexpr double kBulkRatioLimit = 1.05;
constexpr double kPerCommandLimitSeconds = 0.001;
constexpr double kGrowthLimit = 10.5;
constexpr double kSimulatorRatioLimit = 1.5;

struct Options {
  int runs = 31;
  bool simulator = true;
  bool verbose = false;
  std::string only;  // run only the scenarios whose name contains this
  std::string replay_address = "127.88.0.1";
  std::string simulator_address = "127.88.0.2";
};

Row ReplayRow(const Scenario& scenario, const PairedResult& result) {
  Row row{scenario.name, result, "", false};
  switch (scenario.target) {
    case Target::kPerCommand:
      row.target = "< 1 ms";
      row.met = result.median_a < kPerCommandLimitSeconds;
      break;
    case Target::kRawReader:
    case Target::kRawSender:
      row.target = "≤ 1.05×";
      row.met = result.median_ratio <= kBulkRatioLimit;
      break;
  }
  return row;
}

// The spread behind a median, for judging whether a 5 % margin is noise.
void PrintRatios(const Options& options, const std::string& name, const PairedResult& result) {
  if (!options.verbose) return;
  std::fprintf(stderr, "%s: thread CPU %s vs %s; ratios", name.c_str(),
               Milliseconds(result.median_cpu_a).c_str(), Milliseconds(result.median_cpu_b).c_str());
  for (double ratio : result.ratios) std::fprintf(stderr, " %.3f", ratio);
  std::fprintf(stderr, "\n");
}

const char* const kSmallLogName = "GetIORecord, 10000 records";
const char* const kLargeLogName = "GetIORecord, 100000 records";

const Scenario* FindScenario(const std::vector<Scenario>& scenarios, const std::string& name) {
  const auto found =
      std::find_if(scenarios.begin(), scenarios.end(), [&](const Scenario& s) { return s.name == name; });
  return found == scenarios.end() ? nullptr : &*found;
}

const Row* FindRow(const std::vector<Row>& rows, const std::string& name) {
  const auto found = std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.scenario == name; });
  return found == rows.end() ? nullptr : &*found;
}

// A shared library's allocation must reach the counter, or a 0 proves nothing:
// strdup allocates inside the C library, as the pq640 library would.
bool CounterSeesSharedLibraries() {
  const CountedAllocations counted;
  char* copy = strdup("pq640");
  const bool seen = counted.Count() == 1;
  std::free(copy);
  return seen;
}

int Run(const Options& options) {
  if (!CounterSeesSharedLibraries()) {
    std::fprintf(stderr, "pq640-bench: the allocation counter does not see shared libraries\n");
    return 1;
  }
  // The library's default address is a private-network one: point it at
  // loopback before anything else can open the port.
  if (PQ640_SetTerminalIPAddr(options.replay_address.c_str()) != PQ640_OK ||
      PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2) != PQ640_OK || PQ640_SetTerminalID(kTerminalId) != PQ640_OK) {
    std::fprintf(stderr, "pq640-bench: cannot set up the library\n");
    return 1;
  }
  const DataSet data = MakeDataSet();
  Outputs outputs;
  std::vector<Scenario> scenarios = MakeScenarios(data, outputs);
  std::erase_if(scenarios, [&](const Scenario& s) { return s.name.find(options.only) == std::string::npos; });

  std::string error;
  ReplayServer replay;
  if (!replay.Start(options.replay_address, kTerminalPort, &error)) {
    std::fprintf(stderr, "pq640-bench: %s\n", error.c_str());
    return 1;
  }

  std::printf("Library vs raw socket reader/sender, replay server on %s:%u, %d runs each, medians.\n\n",
              options.replay_address.c_str(), kTerminalPort, options.runs);
  std::vector<Row> rows;
  Bytes raw_buffer;
  std::uint64_t most_allocations = 0;
  for (const Scenario& scenario : scenarios) {
    replay.Serve(&scenario.exchange);
    const auto result = RunPaired(LibrarySide(options.replay_address, scenario),
                                  RawSide(options.replay_address, scenario, raw_buffer), options.runs, &error);
    if (!result) {
      std::fprintf(stderr, "pq640-bench: %s (bad requests seen: %llu)\n", error.c_str(),
                   static_cast<unsigned long long>(replay.BadRequests()));
      return 1;
    }
    PrintRatios(options, scenario.name, *result);
    rows.push_back(ReplayRow(scenario, *result));
    most_allocations = std::max(most_allocations, result->max_allocations);
  }
  PrintTable("Library", "Raw", rows);

  bool all_met = std::all_of(rows.begin(), rows.end(), [](const Row& r) { return r.met; });
  const Scenario* small = FindScenario(scenarios, kSmallLogName);
  const Scenario* large = FindScenario(scenarios, kLargeLogName);
  if (small != nullptr && large != nullptr) {
    // Timed alternately, pair by pair, like the raw comparisons: medians of
    // two scenarios run minutes apart would measure the machine's drift.
    replay.Serve(&large->exchange, &small->exchange);
    const auto growth = RunPaired(LibrarySide(options.replay_address, *large),
                                  LibrarySide(options.replay_address, *small), options.runs, &error);
    if (!growth) {
      std::fprintf(stderr, "pq640-bench: %s\n", error.c_str());
      return 1;
    }
    PrintRatios(options, "100,000 / 10,000 IO records", *growth);
    const bool met = growth->median_ratio <= kGrowthLimit;
    all_met &= met;
    // The raw reader's own growth shows what the link and the memory take
    // for ten times the records, before the library adds anything.
    const Row* small_row = FindRow(rows, kSmallLogName);
    const Row* large_row = FindRow(rows, kLargeLogName);
    std::printf("\n100,000 / 10,000 IO records, timed alternately: library %s (target ≤ 10.5×: %s), "
                "raw reader %s\n",
                Ratio(growth->median_ratio).c_str(), Verdict(met).c_str(),
                Ratio(large_row->result.median_b / small_row->result.median_b).c_str());
  }
  // Informational: the raw sender sends one prepared buffer, while any client
  // sending a caller's records must read them for the checksum and send each
  // from its slot. This yardstick does just that and nothing more.
  if (const Scenario* add = FindScenario(scenarios, kAddUsersName)) {
    replay.Serve(&add->exchange);
    const auto result = RunPaired(LibrarySide(options.replay_address, *add),
                                  RawEncoderSide(options.replay_address, *add, data.users, raw_buffer),
                                  options.runs, &error);
    if (!result) {
      std::fprintf(stderr, "pq640-bench: %s\n", error.c_str());
      return 1;
    }
    PrintRatios(options, std::string(kAddUsersName) + " (raw encoder)", *result);
    std::printf("AddUsersData against a raw encoder (checksum computed, each record sent from its slot, "
                "one vectored send; informational): library %s, raw encoder %s, ratio %s\n",
                Milliseconds(result->median_a).c_str(), Milliseconds(result->median_b).c_str(),
                Ratio(result->median_ratio).c_str());
  }
  if (const Row* check_link = FindRow(rows, kCheckLinkName)) {
    std::printf("CheckLink beyond the raw exchange (connect included in both): %+.3f ms\n",
                (check_link->result.median_a - check_link->result.median_b) * 1000);
  }

  if (options.simulator) {
    const auto simulator = StartSimulator(options.simulator_address, data, &error);
    if (!simulator) {
      std::fprintf(stderr, "pq640-bench: %s\n", error.c_str());
      return 1;
    }
    std::printf("\nEnd to end: the library against the simulator (in process, %s) vs against the replay "
                "server, same bytes (informational).\n\n", options.simulator_address.c_str());
    std::vector<Row> simulator_rows;
    for (const Scenario& scenario : scenarios) {
      if (!scenario.bulk_read) continue;
      replay.Serve(&scenario.exchange);
      const auto result = RunPaired(LibrarySide(options.simulator_address, scenario),
                                    LibrarySide(options.replay_address, scenario), options.runs, &error);
      if (!result) {
        std::fprintf(stderr, "pq640-bench: %s\n", error.c_str());
        return 1;
      }
      PrintRatios(options, scenario.name + " (simulator)", *result);
      const bool met = result->median_ratio <= kSimulatorRatioLimit;
      simulator_rows.push_back(Row{scenario.name, *result, "≤ 1.5×", met});
      most_allocations = std::max(most_allocations, result->max_allocations);
      all_met &= met;
    }
    PrintTable("Simulator", "Replay", simulator_rows);
  }

  all_met &= most_allocations == 0;
  std::printf("\nHeap allocations inside the library, most in any call: %llu (target 0: %s)\n",
              static_cast<unsigned long long>(most_allocations), Verdict(most_allocations == 0).c_str());
  std::printf("Timing targets: %s\n", all_met ? "all met" : "some missed");
  return all_met ? 0 : 2;
}

}  // namespace
}  // namespace pq640bench

int main(int argc, char** argv) {
  pq640bench::Options options;
  CLI::App app{"Times the pq640 library's transfers against a raw socket reader on loopback."};
  app.add_option("--runs", options.runs, "timed runs of each side per scenario")
      ->check(CLI::Range(1, 1000));
  app.add_flag("!--no-simulator", options.simulator, "skip the end-to-end comparison with the simulator");
  app.add_option("--only", options.only, "run only the scenarios whose name contains this text");
  app.add_flag("--verbose", options.verbose, "print every pair's ratio to stderr");
  CLI11_PARSE(app, argc, argv);
  return pq640bench::Run(options);
}
