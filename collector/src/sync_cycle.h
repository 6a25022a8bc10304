// One cycle for one terminal: read its clock, fetch what is new in each log
// since the committed watermark, commit records and watermark together, then
// (optionally) prune old records on the terminal and set its clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config_file.h"
#include "store.h"

namespace pq640collect {

struct CycleReport {
  bool ok = false;
  std::string error;            // in words, when not ok
  std::int64_t io_read = 0;     // records read (re-read twins included)
  std::int64_t admin_read = 0;
  std::int64_t clock_drift = 0;
};

// How far before the terminal's clock a range ends: a punch being written
// while the count runs can only carry a later time.
inline constexpr std::int64_t kSettleSeconds = 2;
// Pruning costs two commands per log, so it runs at most this often
// (unless keep_on_terminal is shorter).
inline constexpr std::int64_t kPruneEverySeconds = 3600;

// Never throws for terminal or store trouble: the failure is recorded with
// its back-off and reported.
CycleReport SyncTerminal(Store& store, const CollectorConfig& config, const TerminalConfig& terminal);

// The wait after the n-th failure in a row: retry, doubled each time, at most retry_max.
std::int64_t BackoffSeconds(const CollectorConfig& config, int failures);

}  // namespace pq640collect
