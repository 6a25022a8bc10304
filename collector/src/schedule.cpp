#include "schedule.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <iostream>
#include <thread>

#include "store.h"
#include "sync_cycle.h"

namespace pq640collect {

volatile std::sig_atomic_t g_stop_requested = 0;

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

void Report(const TerminalConfig& terminal, const CycleReport& report, const SyncState& after) {
  if (report.ok) {
    std::cout << terminal.name << ": " << report.io_read << " IO and " << report.admin_read
              << " administrator records read, clock drift " << report.clock_drift << " s" << std::endl;
  } else {
    std::cout << terminal.name << ": failed: " << report.error;
    if (after.next_due) std::cout << "; next attempt in " << *after.next_due - std::time(nullptr) << " s";
    std::cout << std::endl;
  }
}

// Syncs the terminal when it can be claimed and is still due once claimed
// (another worker may have just done it). Nothing when it was not synced.
std::optional<CycleReport> SyncIfClaimed(Store& store, const CollectorConfig& config, const TerminalConfig& terminal,
                                         const WorkerOptions& options) {
  const auto claim = store.TryClaim(terminal.name);
  if (!claim) return std::nullopt;
  const std::int64_t start = NowNanoseconds();
  if (!options.once) {
    const SyncState state = store.State(terminal.name);
    if (state.next_due && *state.next_due > std::time(nullptr)) return std::nullopt;
  }
  CycleReport report = SyncTerminal(store, config, terminal);
  LogClaim(options, terminal.name, start, NowNanoseconds());
  Report(terminal, report, store.State(terminal.name));
  return report;
}

int RunOnce(Store& store, const CollectorConfig& config, const WorkerOptions& options) {
  std::atomic<std::uint32_t> local_queue{0};
  std::atomic<std::uint32_t>& queue = options.once_queue != nullptr ? *options.once_queue : local_queue;
  int status = 0;
  while (g_stop_requested == 0) {
    const std::uint32_t next = queue.fetch_add(1);
    if (next >= config.terminals.size()) break;
    const TerminalConfig& terminal = config.terminals[next];
    const auto report = SyncIfClaimed(store, config, terminal, options);
    if (!report) {
      std::cout << terminal.name << ": skipped, another collector holds it" << std::endl;
    } else if (!report->ok) {
      status = 1;
    }
  }
  return status;
}

void RunScheduled(Store& store, const CollectorConfig& config, const WorkerOptions& options) {
  const std::size_t count = config.terminals.size();
  while (g_stop_requested == 0) {
    std::int64_t earliest = std::time(nullptr) + 60;
    for (std::size_t i = 0; i < count && g_stop_requested == 0; ++i) {
      const TerminalConfig& terminal = config.terminals[(i + static_cast<std::size_t>(options.index)) % count];
      const SyncState state = store.State(terminal.name);
      const std::int64_t due = state.next_due.value_or(0);
      if (due <= std::time(nullptr)) {
        // Synced here or busy elsewhere: either way, look again when it is due.
        const bool synced = SyncIfClaimed(store, config, terminal, options).has_value();
        const SyncState after = store.State(terminal.name);
        earliest = std::min(earliest, synced ? after.next_due.value_or(0) : std::time(nullptr) + 1);
      } else {
        earliest = std::min(earliest, due);
      }
    }
    // Short naps, so that a stop request or a terminal another worker
    // released is seen soon.
    const std::int64_t wait = earliest - std::time(nullptr);
    for (std::int64_t slept = 0; slept < std::max<std::int64_t>(wait, 1) * 4 && g_stop_requested == 0; ++slept) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }
}

}  // namespace

int RunWorker(const CollectorConfig& config, const WorkerOptions& options) {
  try {
    const auto store = OpenStore(config.store_url);
    if (options.once) return RunOnce(*store, config, options);
    RunScheduled(*store, config, options);
    return 0;
  } catch (const StoreError& error) {
    std::cerr << "pq640-collect: " << error.what() << std::endl;
    return 1;
  }
}

}  // namespace pq640collect
