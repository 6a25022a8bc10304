#include "reconcile.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

namespace pq640collect {

LogReconciler::LogReconciler(TerminalLink& link, Store& store, const TerminalConfig& terminal, LogKind log,
                             const std::optional<PQ640_DateTime>& pruned_through, UtcConverter* utc)
    : link_(link), store_(store), terminal_(terminal), log_(log), pruned_through_(pruned_through), utc_(utc) {}

PQ640_DateTime LogReconciler::Start() const { return terminal_.collect_from.value_or(kFirstSecond); }

std::int64_t LogReconciler::Expected(const Span& span) {
  std::int64_t from = WallSeconds(span.from);
  // Records up to pruned_through were deleted on the terminal once stored.
  if (pruned_through_) from = std::max(from, WallSeconds(*pruned_through_) + 1);
  if (from > WallSeconds(span.to)) return 0;
  return store_.CountBetween(terminal_.name, log_, FromWallSeconds(from), span.to);
}

std::vector<LogRow> LogReconciler::ReadRows(const Span& span, std::uint64_t expected,
                                            const std::optional<PQ640_DateTime>& late_before) {
  const PQ640_RecordQuery query = RangeQuery(terminal_.query_template, span.from, span.to);
  const std::vector<RawRecord> records = link_.Read(log_, query, expected);
  const std::vector<std::uint32_t> twins = DuplicateIndexes(records);
  std::vector<LogRow> rows;
  rows.reserve(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    // A record outside the asked range means the terminal reads its query
    // differently than configured; storing it would corrupt the counts the
    // reconciliation compares, so refuse the whole cycle.
    const std::int64_t at = WallSeconds(RecordTime(records[i]));
    if (at < WallSeconds(span.from) || at > WallSeconds(span.to)) {
      throw std::runtime_error("the terminal answered a time-range query with a record from " +
                               TimeText(RecordTime(records[i])) + ", outside " + TimeText(span.from) + " .. " +
                               TimeText(span.to) + " (check query_template)");
    }
    LogRow row{records[i], twins[i], std::nullopt};
    if (utc_ != nullptr) {
      row.utc = utc_->ToUtc(RecordTime(records[i]));
      row.utc_ambiguous = utc_->Ambiguous(RecordTime(records[i]));
    }
    row.late = late_before && at < WallSeconds(*late_before);
    rows.push_back(row);
  }
  return rows;
}

LogReconciler::Outcome LogReconciler::Run(const std::optional<PQ640_DateTime>& watermark,
                                          std::optional<std::int64_t> seen, bool distrust_seen) {
  Outcome outcome;
  const Span all{Start(), kLastSecond};
  const std::int64_t on_terminal = link_.Count(log_, RangeQuery(terminal_.query_template, all.from, all.to));
  const std::int64_t held = Expected(all);
  if (on_terminal == held || (!distrust_seen && seen && on_terminal == *seen)) {
    outcome.seen = on_terminal;
    return outcome;
  }
  // The fast path: everything from the watermark on, new punches included.
  PQ640_DateTime fast_from = all.from;
  if (watermark && WallSeconds(*watermark) > WallSeconds(all.from)) fast_from = *watermark;
  const Span fast{fast_from, all.to};
  const std::int64_t held_fast = Expected(fast);
  const std::int64_t missing = std::max<std::int64_t>(0, on_terminal - held);
  std::int64_t on_fast = 0;
  if (static_cast<std::uint64_t>(held_fast + missing) <= link_.read_ceiling()) {
    outcome.rows = ReadRows(fast, static_cast<std::uint64_t>(held_fast + missing), std::nullopt);
    outcome.read = on_fast = static_cast<std::int64_t>(outcome.rows.size());
  } else {
    // More than one read may hold (a first sync of a very large log): the
    // span is narrowed like any other, in reads below the ceiling.
    on_fast = link_.Count(log_, RangeQuery(terminal_.query_template, fast.from, fast.to));
    Narrow(fast, on_fast, std::nullopt, outcome);
  }
  // Before the watermark: late writes, clocks set back, a swapped unit.
  if (WallSeconds(fast.from) > WallSeconds(all.from)) {
    const Span before{all.from, FromWallSeconds(WallSeconds(fast.from) - 1)};
    Narrow(before, on_terminal - on_fast, watermark, outcome);
  }
  outcome.seen = on_terminal;
  return outcome;
}

void LogReconciler::Narrow(const Span& span, std::int64_t on_terminal, const std::optional<PQ640_DateTime>& watermark,
                           Outcome& outcome) {
  if (on_terminal <= 0) return;  // nothing there to collect (the database may hold more: a cleared log)
  const std::int64_t held = Expected(span);
  if (on_terminal == held) return;
  const std::int64_t from = WallSeconds(span.from);
  const std::int64_t to = WallSeconds(span.to);
  const std::int64_t whole = std::min<std::int64_t>(kReadWholeSpan, link_.read_ceiling());
  if (on_terminal <= whole || from == to) {
    const std::vector<LogRow> rows = ReadRows(span, static_cast<std::uint64_t>(on_terminal), watermark);
    outcome.read += static_cast<std::int64_t>(rows.size());
    outcome.inserted_early += store_.InsertMissing(terminal_.name, log_, rows, std::time(nullptr));
    return;
  }
  const std::int64_t middle = SplitPoint(span, held);
  const Span left{span.from, FromWallSeconds(middle)};
  const Span right{FromWallSeconds(middle + 1), span.to};
  const std::int64_t on_left = link_.Count(log_, RangeQuery(terminal_.query_template, left.from, left.to));
  Narrow(left, on_left, watermark, outcome);
  Narrow(right, on_terminal - on_left, watermark, outcome);
}

std::int64_t LogReconciler::SplitPoint(const Span& span, std::int64_t held) {
  const std::int64_t from = WallSeconds(span.from);
  const std::int64_t to = WallSeconds(span.to);
  const auto inside = [&](std::int64_t at) { return at >= from && at < to; };
  if (held >= 2) {
    std::int64_t lowest = from;
    if (pruned_through_) lowest = std::max(lowest, WallSeconds(*pruned_through_) + 1);
    const auto median = store_.TimeAtRank(terminal_.name, log_, FromWallSeconds(lowest), span.to, held / 2);
    if (median && inside(WallSeconds(*median))) return WallSeconds(*median);
  }
  if (clock_) {
    constexpr std::int64_t kMonth = 31 * 86400;
    const std::int64_t clock = WallSeconds(*clock_);
    if (inside(clock) && clock > from) return clock;  // after the clock there is normally nothing
    if (inside(clock - kMonth) && clock - kMonth > from) return clock - kMonth;
  }
  return from + (to - from) / 2;
}

}  // namespace pq640collect
