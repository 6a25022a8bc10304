#include "schedule.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <numeric>
#include <thread>

#include "log_line.h"
#include "store.h"
#include "sync_cycle.h"

namespace pq640collect {

volatile std::sig_atomic_t g_stop_requested = 0;
volatile std::sig_atomic_t g_reload_requested = 0;

namespace {

std::int64_t NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void LogClaim(const WorkerOptions& options, const std::string& name, std::int64_t start, std::int64_t end) {
  if (!options.claim_log) return;
  const std::string line =
      name + " " + std::to_string(start) + " " + std::to_string(end) + " " + std::to_string(getpid()) + "\n";
  const int fd = open(options.claim_log->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  [[maybe_unused]] const auto written = write(fd, line.data(), line.size());  // one append: lines never mix
  close(fd);
}

// What to try, for the failures an operator meets most.
std::string Hint(const std::string& error) {
  if (error.find("connecting failed") != std::string::npos || error.find(": -100 ") != std::string::npos) {
    return "is the terminal on, and reachable at that address from this host?";
  }
  if (error.find("max_read_records") != std::string::npos) {
    return "if the terminal really holds that many records, raise collector.max_read_records";
  }
  if (error.find("query_template") != std::string::npos) return "check the terminal's query_template";
  if (error.find("SQLite") != std::string::npos || error.find("PostgreSQL") != std::string::npos) {
    return "the database, not the terminal, failed; the cycle is tried again";
  }
  return "";
}

void Report(const TerminalConfig& terminal, const CycleReport& report, const SyncState& after, bool once) {
  for (const std::string& note : report.notes) LogLine(LogLevel::kNotice, terminal.name + ": " + note);
  if (report.ok) {
    std::string line = terminal.name + ": " + std::to_string(report.io_read) + " IO and " +
                       std::to_string(report.admin_read) + " administrator records read";
    if (report.io_new + report.admin_new > 0) {
      line += " (" + std::to_string(report.io_new + report.admin_new) + " new";
      if (report.late > 0) line += ", " + std::to_string(report.late) + " late";
      line += ")";
    }
    LogLine(LogLevel::kInfo, line + ", clock drift " + std::to_string(report.clock_drift) + " s");
    return;
  }
  std::string line = terminal.name + " (" + TerminalLinkText(terminal) + "): failed: " + report.error;
  const std::string hint = Hint(report.error);
  if (!hint.empty()) line += " -- " + hint;
  if (!once && after.next_due) line += "; next attempt in " + std::to_string(*after.next_due - std::time(nullptr)) + " s";
  LogLine(LogLevel::kError, line);
}

// Syncs the terminal when it can be claimed and is still due once claimed
// (another worker may have just done it). Nothing when it was not synced.
std::optional<CycleReport> SyncIfClaimed(Store& store, const CollectorConfig& config, const TerminalConfig& terminal,
                                         const WorkerOptions& options) {
  const auto claim = store.TryClaim(terminal.name);
  if (!claim) return std::nullopt;
  const std::int64_t start = NowNanoseconds();
  if (!options.once && DueAt(terminal, store.State(terminal.name)) > std::time(nullptr)) return std::nullopt;
  CycleReport report = SyncTerminal(store, config, terminal);
  LogClaim(options, terminal.name, start, NowNanoseconds());
  SyncState after;
  try {
    after = store.State(terminal.name);
  } catch (const StoreError&) {
  }
  Report(terminal, report, after, options.once);
  return report;
}

int RunOnce(Store& store, const CollectorConfig& config, const WorkerOptions& options) {
  std::atomic<std::uint32_t> local_queue{0};
  std::atomic<std::uint32_t>& queue = options.once_queue != nullptr ? *options.once_queue : local_queue;
  std::vector<std::size_t> order = options.order;
  if (order.size() != config.terminals.size()) {
    order.resize(config.terminals.size());
    std::iota(order.begin(), order.end(), 0);
  }
  int status = 0;
  while (g_stop_requested == 0) {
    const std::uint32_t next = queue.fetch_add(1);
    if (next >= order.size()) break;
    const TerminalConfig& terminal = config.terminals[order[next]];
    try {
      const auto report = SyncIfClaimed(store, config, terminal, options);
      if (!report) {
        LogLine(LogLevel::kInfo, terminal.name + ": skipped, another collector holds it");
      } else if (!report->ok) {
        status = 1;
      }
    } catch (const StoreError& error) {
      // The database failed around the cycle; the other terminals still get theirs.
      LogLine(LogLevel::kError, terminal.name + ": " + error.what());
      status = 1;
    }
  }
  return status;
}

void Reload(CollectorConfig& config, Store& store) {
  g_reload_requested = 0;
  try {
    CollectorConfig fresh = LoadConfig(config.path);
    if (fresh.store_url != config.store_url) {
      LogLine(LogLevel::kError, "reload: store.url changed; that needs a restart, keeping the old configuration");
      return;
    }
    for (const TerminalConfig& terminal : fresh.terminals) store.RegisterTerminal(terminal);
    config = std::move(fresh);
    LogLine(LogLevel::kNotice, "configuration reloaded: " + std::to_string(config.terminals.size()) + " terminals");
  } catch (const std::exception& error) {
    LogLine(LogLevel::kError, std::string("reload failed, keeping the old configuration: ") + error.what());
  }
}

void Nap(std::int64_t seconds) {
  // Short naps, so that a stop or reload request or a terminal another
  // worker released is seen soon.
  for (std::int64_t slept = 0; slept < std::max<std::int64_t>(seconds, 1) * 4 && g_stop_requested == 0 &&
                               g_reload_requested == 0;
       ++slept) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

// One pass over the fleet, the most overdue first; when the next is due.
std::int64_t ScheduledPass(Store& store, const CollectorConfig& config, const WorkerOptions& options) {
  std::int64_t earliest = std::time(nullptr) + 60;
  const std::vector<std::size_t> order = OverdueOrder(store, config);
  const std::size_t count = order.size();
  for (std::size_t i = 0; i < count && g_stop_requested == 0 && g_reload_requested == 0; ++i) {
    // Workers start at different places among the equally due.
    const TerminalConfig& terminal = config.terminals[order[i]];
    const std::int64_t due = DueAt(terminal, store.State(terminal.name));
    if (due <= std::time(nullptr)) {
      // Synced here or busy elsewhere: either way, look again when it is due.
      const bool synced = SyncIfClaimed(store, config, terminal, options).has_value();
      earliest = std::min(earliest, synced ? DueAt(terminal, store.State(terminal.name)) : std::time(nullptr) + 1);
    } else {
      earliest = std::min(earliest, due);
    }
  }
  return earliest;
}

void RunScheduled(std::unique_ptr<Store> store, CollectorConfig& config, const WorkerOptions& options) {
  int store_failures = 0;
  while (g_stop_requested == 0) {
    try {
      if (!store) store = OpenStore(config.store_url, StoreAccess::kWrite);
      if (g_reload_requested != 0) Reload(config, *store);
      const std::int64_t earliest = ScheduledPass(*store, config, options);
      store_failures = 0;
      Nap(earliest - std::time(nullptr));
    } catch (const StoreError& error) {
      // A database outage is waited out with the same back-off as a
      // terminal's; the connection (or file) is opened afresh.
      ++store_failures;
      const std::int64_t wait = BackoffSeconds(config, store_failures);
      LogLine(LogLevel::kError, std::string(error.what()) + "; trying the database again in " + std::to_string(wait) + " s");
      store.reset();
      Nap(wait);
    }
  }
}

}  // namespace

std::int64_t DueAt(const TerminalConfig& terminal, const SyncState& state) {
  if (state.failures > 0 && state.next_due) return *state.next_due;
  if (state.last_success) return *state.last_success + terminal.every.count();
  return state.next_due.value_or(0);
}

std::vector<std::size_t> OverdueOrder(Store& store, const CollectorConfig& config) {
  std::vector<std::pair<std::int64_t, std::size_t>> due;
  for (std::size_t i = 0; i < config.terminals.size(); ++i) {
    due.emplace_back(DueAt(config.terminals[i], store.State(config.terminals[i].name)), i);
  }
  std::stable_sort(due.begin(), due.end());
  std::vector<std::size_t> order;
  for (const auto& entry : due) order.push_back(entry.second);
  return order;
}

int RunWorker(CollectorConfig config, const WorkerOptions& options) {
  std::unique_ptr<Store> store;
  try {
    store = OpenStore(config.store_url, StoreAccess::kWrite);
    if (options.once) return RunOnce(*store, config, options);
  } catch (const StoreError& error) {
    LogLine(LogLevel::kError, error.what());
    if (options.once) return 1;
    store.reset();
  }
  RunScheduled(std::move(store), config, options);
  return 0;
}

}  // namespace pq640collect
