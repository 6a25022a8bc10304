// The worker loop: which terminal to sync next, and when. Terminals are
// claimed one at a time (Store::TryClaim), so any number of workers and
// collectors can share a fleet without pulling a terminal twice at once.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <optional>
#include <string>

#include "config_file.h"

namespace pq640collect {

struct WorkerOptions {
  bool once = false;
  int index = 0;  // spreads workers over the fleet: each starts elsewhere
  // --once: the next terminal to take, shared by the workers of this run.
  std::atomic<std::uint32_t>* once_queue = nullptr;
  // Diagnostics: one line "NAME START_NS END_NS PID" per claim held.
  std::optional<std::string> claim_log;
};

// Set by SIGINT/SIGTERM: the loop ends after the cycle in progress.
extern volatile std::sig_atomic_t g_stop_requested;

// Runs until stopped (or, with once, until every terminal had its cycle).
// Returns 0, or 1 when a cycle failed in a --once run.
int RunWorker(const CollectorConfig& config, const WorkerOptions& options);

}  // namespace pq640collect
