// One cycle for one terminal: read its clock, count each log over its whole
// span and compare with the database; read only what differs (first from the
// watermark, then narrowing down by counts over halves), commit, then
// (optionally) prune records the database provably holds and set the clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config_file.h"
#include "store.h"

namespace pq640collect {

struct CycleReport {
  bool ok = false;
  std::string error;            // in words, when not ok
  std::int64_t io_read = 0;     // records read (re-read twins included)
  std::int64_t admin_read = 0;
  std::int64_t io_new = 0;      // rows the database did not hold
  std::int64_t admin_new = 0;
  std::int64_t late = 0;        // of those, stamped before the watermark
  std::int64_t clock_drift = 0;
  // Events worth a line of their own: deletions on the terminal, clock jumps.
  std::vector<std::string> notes;
};

// How far before the terminal's clock the watermark stays: a punch being
// written while the cycle runs can only carry a later time.
inline constexpr std::int64_t kSettleSeconds = 2;
// Pruning costs three commands per log, so it runs at most this often
// (unless keep_on_terminal is shorter).
inline constexpr std::int64_t kPruneEverySeconds = 3600;
// A span holding at most this many records on the terminal is read whole
// rather than narrowed down further (a read of 10,000 records takes about
// as long as one more command's pause).
inline constexpr std::uint32_t kReadWholeSpan = 10000;

// Never throws for terminal or store trouble: the failure is recorded with
// its back-off and reported.
CycleReport SyncTerminal(Store& store, const CollectorConfig& config, const TerminalConfig& terminal);

// Reads from..to on the terminal and inserts what the database lacks; the
// number of rows inserted. Throws on failure.
std::int64_t ResyncTerminal(Store& store, const CollectorConfig& config, const TerminalConfig& terminal,
                            const PQ640_DateTime& from, const PQ640_DateTime& to);

// The wait after the n-th failure in a row: retry, doubled each time, at most retry_max.
std::int64_t BackoffSeconds(const CollectorConfig& config, int failures);

}  // namespace pq640collect
