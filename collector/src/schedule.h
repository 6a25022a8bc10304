// The worker loop: which terminal to sync next, and when. Terminals are
// claimed one at a time (Store::TryClaim), so any number of workers and
// collectors can share a fleet without pulling a terminal twice at once.
#pragma once

#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config_file.h"

namespace pq640collect {

struct WorkerOptions {
  bool once = false;
  int index = 0;  // spreads workers over the fleet: each starts elsewhere
  // --once: the next position in `order` to take, shared by the workers of this run.
  std::atomic<std::uint32_t>* once_queue = nullptr;
  // --once: terminals (indexes into the config), the most overdue first.
  std::vector<std::size_t> order;
  // Diagnostics: one line "NAME START_NS END_NS PID" per claim held.
  std::optional<std::string> claim_log;
};

// Set by SIGINT/SIGTERM: the loop ends after the cycle in progress.
extern volatile std::sig_atomic_t g_stop_requested;
// Set by SIGHUP: the configuration is read again before the next cycle.
extern volatile std::sig_atomic_t g_reload_requested;

// Runs until stopped (or, with once, until every terminal had its cycle).
// Returns 0, or 1 when a cycle failed in a --once run.
int RunWorker(CollectorConfig config, const WorkerOptions& options);

// When the terminal is next due: after a failure its back-off, otherwise its
// last success plus its (current) `every`; never synced: now.
std::int64_t DueAt(const TerminalConfig& terminal, const struct SyncState& state);

// Terminals by how overdue they are (the earliest due first; ties in config order).
std::vector<std::size_t> OverdueOrder(class Store& store, const CollectorConfig& config);

}  // namespace pq640collect
