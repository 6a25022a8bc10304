// pq640-collect: collects the attendance (IO) and administrator logs of a
// fleet of terminals into SQLite or PostgreSQL, incrementally and exactly once.
#include <CLI/CLI.hpp>
#include <ctime>
#include <iostream>

#include "config_file.h"
#include "record_export.h"
#include "status_report.h"
#include "store.h"
#include "worker_pool.h"

#ifndef PQ640_VERSION
#define PQ640_VERSION "(unversioned build)"
#endif

namespace {

using namespace pq640collect;

constexpr int kExitUsage = 2;

int Status(const CollectorConfig& config, bool json) {
  const auto store = OpenStore(config.store_url);
  store->Migrate();
  const auto rows = store->Status();
  if (json) {
    PrintStatusJson(rows, std::time(nullptr), std::cout);
  } else {
    PrintStatusTable(rows, std::time(nullptr), std::cout);
  }
  return 0;
}

int Export(const CollectorConfig& config, const std::string& since_text, const std::string& until_text, bool json,
           bool admin) {
  const auto since = ParseTimeText(since_text, false);
  const auto until = until_text.empty() ? std::optional(PQ640_DateTime{99, 12, 31, 23, 59, 59})
                                        : ParseTimeText(until_text, true);
  if (!since || !until) {
    std::cerr << "pq640-collect: --since and --until want \"YYYY-MM-DD\" or \"YYYY-MM-DD hh:mm:ss\"\n";
    return kExitUsage;
  }
  const auto store = OpenStore(config.store_url);
  store->Migrate();
  ExportRecords(*store, admin ? LogKind::kAdmin : LogKind::kIo, TimeText(*since), TimeText(*until),
                json ? ExportFormat::kJson : ExportFormat::kCsv, std::cout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Collects the logs of a fleet of terminals into a database, incrementally and exactly once"};
  app.set_version_flag("--version", std::string("pq640-collect ") + PQ640_VERSION);
  app.require_subcommand(1);
  std::string config_path = "pq640-collect.toml";
  app.add_option("--config", config_path, "The TOML config file")->capture_default_str();

  RunOptions run;
  std::string claim_log;
  auto* run_command = app.add_subcommand("run", "Collect on each terminal's schedule (or once)");
  run_command->add_flag("--once", run.once, "One cycle per terminal, then exit");
  run_command->add_option("--workers", run.workers, "Worker processes, each syncing one terminal at a time")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  run_command->add_option("--claim-log", claim_log, "Append one line per terminal claim (diagnostics)");

  bool json = false;
  auto* status_command = app.add_subcommand("status", "Per terminal: last sync, records held, lag, drift, error");
  status_command->add_flag("--json", json, "JSON instead of a table");

  std::string since, until;
  bool csv = false, export_json = false, admin = false;
  auto* export_command = app.add_subcommand("export", "Collected records as CSV or JSON");
  export_command->add_option("--since", since, "From this local time (\"YYYY-MM-DD[ hh:mm:ss]\")")->required();
  export_command->add_option("--until", until, "Up to this local time (default: everything)");
  auto* csv_flag = export_command->add_flag("--csv", csv, "CSV (the default)");
  export_command->add_flag("--json", export_json, "JSON")->excludes(csv_flag);
  export_command->add_flag("--admin", admin, "The administrator log instead of the IO records");

  for (auto* command : {run_command, status_command, export_command}) {
    command->add_option("--config", config_path, "The TOML config file");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : kExitUsage;
  }

  try {
    const CollectorConfig config = LoadConfig(config_path);
    if (*run_command) {
      if (!claim_log.empty()) run.claim_log = claim_log;
      return RunCollector(config, run);
    }
    if (*status_command) return Status(config, json);
    return Export(config, since, until, export_json, admin);
  } catch (const ConfigError& error) {
    std::cerr << "pq640-collect: " << error.what() << "\n";
    return kExitUsage;
  } catch (const StoreError& error) {
    std::cerr << "pq640-collect: " << error.what() << "\n";
    return 1;
  }
}
