// Content, not the terminal's clock, decides what is collected. One log of
// one terminal per cycle:
//  1. Count the terminal's whole log (one command, as cheap as the count
//     from the watermark it replaces) and compare with the rows the database
//     holds of it (excluding what was pruned). Equal, or equal to the count
//     last seen when the database held everything: nothing to do.
//  2. Otherwise read from the watermark to the end of time (the fast path:
//     new punches), then compare what lies before the watermark the same way
//     and narrow down by counts over halves, reading only spans that differ.
// Every record read is keyed by its bytes and its position among identical
// records, so reading a span twice inserts nothing twice.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "store.h"
#include "sync_cycle.h"
#include "terminal_link.h"
#include "time_zone.h"

namespace pq640collect {

struct Span {
  PQ640_DateTime from;
  PQ640_DateTime to;
};

inline constexpr PQ640_DateTime kLastSecond{99, 12, 31, 23, 59, 59};

class LogReconciler {
 public:
  LogReconciler(TerminalLink& link, Store& store, const TerminalConfig& terminal, LogKind log,
                const std::optional<PQ640_DateTime>& pruned_through, UtcConverter* utc);

  // Steps 1 and 2. Rows of the fast path are returned for the cycle's commit;
  // rows found by narrowing are inserted at once (marked late).
  struct Outcome {
    std::vector<LogRow> rows;
    std::int64_t read = 0;
    std::int64_t inserted_early = 0;  // narrowing's rows, already stored
    std::optional<std::int64_t> seen;
  };
  Outcome Run(const std::optional<PQ640_DateTime>& watermark, std::optional<std::int64_t> seen, bool distrust_seen);

  // Records of a span as rows, twins counted within the span; `late` marks
  // those before `late_before`. Throws when the terminal answers outside it.
  std::vector<LogRow> ReadRows(const Span& span, std::uint64_t expected,
                               const std::optional<PQ640_DateTime>& late_before);

  // The terminal's clock: records cluster in the weeks before it, which is
  // where a span without stored records is split first.
  void SetClock(const PQ640_DateTime& clock) { clock_ = clock; }

  // The first second this terminal's records are collected from.
  PQ640_DateTime Start() const;
  // Rows the database holds of a span that should still be on the terminal.
  std::int64_t Expected(const Span& span);

 private:
  void Narrow(const Span& span, std::int64_t on_terminal, const std::optional<PQ640_DateTime>& watermark,
              Outcome& outcome);
  // Where to halve a span: at the median of the rows the database holds in
  // it, else a month before the clock, else in the middle of its time.
  std::int64_t SplitPoint(const Span& span, std::int64_t held);

  TerminalLink& link_;
  Store& store_;
  const TerminalConfig& terminal_;
  LogKind log_;
  std::optional<PQ640_DateTime> pruned_through_;
  UtcConverter* utc_;
  std::optional<PQ640_DateTime> clock_;
};

}  // namespace pq640collect
