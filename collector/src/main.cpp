// pq640-collect: collects the attendance (IO) and administrator logs of a
// fleet of terminals into SQLite or PostgreSQL, incrementally and exactly once.
#include <CLI/CLI.hpp>
#include <ctime>
#include <iostream>

#include "config_file.h"
#include "record_export.h"
#include "status_report.h"
#include "store.h"
#include "sync_cycle.h"
#include "worker_pool.h"

#ifndef PQ640_VERSION
#define PQ640_VERSION "(unversioned build)"
#endif

namespace {

using namespace pq640collect;

constexpr int kExitUsage = 2;
// status: a terminal is failing or overdue (for monitoring).
constexpr int kExitAttention = 3;

// status and export only read: never create, never migrate, never write.
std::unique_ptr<Store> OpenForReading(const CollectorConfig& config) {
  auto store = OpenStore(config.store_url, StoreAccess::kReadOnly);
  store->RequireCurrentSchema();
  return store;
}

int Status(const CollectorConfig& config, bool json) {
  const auto store = OpenForReading(config);
  const auto rows = store->Status();
  const std::int64_t now = std::time(nullptr);
  if (json) {
    PrintStatusJson(rows, now, std::cout);
  } else {
    PrintStatusTable(rows, now, std::cout);
  }
  return AnyFailingOrOverdue(rows, now) ? kExitAttention : 0;
}

std::optional<std::string> TimeArgument(const std::string& text, bool end_of_day) {
  const auto time = ParseTimeText(text, end_of_day);
  if (!time) return std::nullopt;
  return TimeText(*time);
}

struct ExportArguments {
  std::string since, until, terminal;
  std::int64_t after = -1;
  bool json = false, admin = false, extra = false;
};

// Sets `field` from a local time argument; false (with a message) when it is not one.
bool TimeBound(const std::string& option, const std::string& text, bool end_of_day, std::string& field) {
  if (text.empty()) return true;
  const auto time = TimeArgument(text, end_of_day);
  if (!time) {
    std::cerr << "pq640-collect: " << option << " wants \"YYYY-MM-DD\" or \"YYYY-MM-DD hh:mm:ss\"\n";
    return false;
  }
  field = *time;
  return true;
}

int Export(const CollectorConfig& config, const ExportArguments& arguments) {
  ExportFilter filter;
  if (!TimeBound("--since", arguments.since, false, filter.since) ||
      !TimeBound("--until", arguments.until, true, filter.until)) {
    return kExitUsage;
  }
  if (arguments.after >= 0) filter.after_seq = arguments.after;
  if (!arguments.terminal.empty()) filter.terminal = arguments.terminal;
  const auto store = OpenForReading(config);
  ExportRecords(*store, arguments.admin ? LogKind::kAdmin : LogKind::kIo, filter,
                arguments.json ? ExportFormat::kJson : ExportFormat::kCsv, arguments.extra, std::cout);
  return 0;
}

int Resync(const CollectorConfig& config, const std::string& name, const std::string& from_text,
           const std::string& to_text) {
  const auto from = ParseTimeText(from_text, false);
  const auto to = to_text.empty() ? std::optional(PQ640_DateTime{99, 12, 31, 23, 59, 59}) : ParseTimeText(to_text, true);
  if (!from || !to || WallSeconds(*to) < WallSeconds(*from)) {
    std::cerr << "pq640-collect: resync wants --from and --to as \"YYYY-MM-DD[ hh:mm:ss]\", --to not before --from\n";
    return kExitUsage;
  }
  const TerminalConfig* terminal = nullptr;
  for (const auto& candidate : config.terminals) {
    if (candidate.name == name) terminal = &candidate;
  }
  if (terminal == nullptr) {
    std::cerr << "pq640-collect: no terminal \"" << name << "\" in " << config.path << "\n";
    return kExitUsage;
  }
  const auto store = OpenStore(config.store_url, StoreAccess::kCreate);
  store->Migrate();
  store->RegisterTerminal(*terminal);
  const auto claim = store->TryClaim(terminal->name);
  if (!claim) {
    std::cerr << "pq640-collect: " << name << " is being collected right now; try again in a moment\n";
    return 1;
  }
  try {
    const std::int64_t inserted = ResyncTerminal(*store, config, *terminal, *from, *to);
    std::cout << name << ": " << TimeText(*from) << " .. " << TimeText(*to) << " read again, " << inserted
              << " records were missing and are stored now\n";
    return 0;
  } catch (const StoreError&) {
    throw;
  } catch (const std::exception& error) {
    std::cerr << "pq640-collect: " << name << " (" << TerminalLinkText(*terminal) << "): resync failed: " << error.what()
              << "\n";
    return 1;
  }
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
  auto* status_command = app.add_subcommand(
      "status", "Per terminal: last sync, records held, lag, drift, attention, error (exit 3: failing or overdue)");
  status_command->add_flag("--json", json, "JSON instead of a table");

  ExportArguments exported;
  bool csv = false;
  auto* export_command = app.add_subcommand("export", "Collected records as CSV or JSON (docs/records.md)");
  export_command->add_option("--since", exported.since, "From this local time (\"YYYY-MM-DD[ hh:mm:ss]\")");
  export_command->add_option("--until", exported.until, "Up to this local time (default: everything)");
  export_command->add_option("--after", exported.after, "Only rows stored after this sequence number, in seq order")
      ->check(CLI::NonNegativeNumber);
  export_command->add_option("--terminal", exported.terminal, "Only this terminal's records");
  auto* csv_flag = export_command->add_flag("--csv", csv, "CSV (the default)");
  export_command->add_flag("--json", exported.json, "JSON")->excludes(csv_flag);
  export_command->add_flag("--admin", exported.admin, "The administrator log instead of the IO records");
  export_command->add_flag("--extra", exported.extra,
                           "Add the collector's columns: terminal, utc_time, utc_ambiguous, seq, late, raw");

  std::string rename_from, rename_to;
  auto* rename_command = app.add_subcommand("rename", "Move a terminal's stored records and state to a new name");
  rename_command->add_option("OLD", rename_from, "The stored name")->required();
  rename_command->add_option("NEW", rename_to, "The new name")->required();

  std::string resync_terminal, resync_from, resync_to;
  auto* resync_command = app.add_subcommand("resync", "Read a span of a terminal's logs again; store what is missing");
  resync_command->add_option("--terminal", resync_terminal, "The terminal's name")->required();
  resync_command->add_option("--from", resync_from, "From this local time (\"YYYY-MM-DD[ hh:mm:ss]\")")->required();
  resync_command->add_option("--to", resync_to, "Up to this local time (default: everything)");

  for (auto* command : {run_command, status_command, export_command, rename_command, resync_command}) {
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
    if (*rename_command) {
      const auto store = OpenStore(config.store_url, StoreAccess::kWrite);
      store->Migrate();
      store->Rename(rename_from, rename_to);
      std::cout << "renamed " << rename_from << " to " << rename_to << "; name it \"" << rename_to
                << "\" in the config too\n";
      return 0;
    }
    if (*resync_command) return Resync(config, resync_terminal, resync_from, resync_to);
    return Export(config, exported);
  } catch (const ConfigError& error) {
    std::cerr << "pq640-collect: " << error.what() << "\n";
    return kExitUsage;
  } catch (const StoreError& error) {
    std::cerr << "pq640-collect: " << error.what() << "\n";
    return 1;
  }
}
