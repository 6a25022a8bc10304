#include "pq640sim/event_log.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "pq640sim/little_endian.h"

namespace pq640sim {
namespace {

bool TimeBefore(const LogRecord& record, TimeKey time) { return RecordTime(record) < time; }
bool TimeAfter(TimeKey time, const LogRecord& record) { return time < RecordTime(record); }

// Owner and state; the time range is applied by binary search beforehand.
bool MatchesFilters(const LogRecord& record, const LogSelection& selection) {
  if (selection.owners &&
      !std::binary_search(selection.owners->begin(), selection.owners->end(), RecordOwner(record)))
    return false;
  return !selection.in_out_state || record[kIoStateOffset] == *selection.in_out_state;
}

}  // namespace

std::optional<LogSelection> SelectionOfQuery(std::span<const std::uint8_t, kRecordQuerySize> query) {
  const auto kind = static_cast<QueryKind>(query[kQueryKindOffset]);
  const bool timed = kind == QueryKind::kTimeRange || kind == QueryKind::kOneUserInTimeRange;
  const bool one_user = kind == QueryKind::kOneUser || kind == QueryKind::kOneUserInTimeRange;
  if (kind != QueryKind::kAll && !timed && !one_user) return std::nullopt;
  LogSelection selection;
  if (timed) {
    selection.from = TimeKeyOf(query.subspan<kQueryFromOffset, 6>());
    selection.to = TimeKeyOf(query.subspan<kQueryToOffset, 6>());
  }
  if (one_user) selection.owners = std::vector<std::uint32_t>{LoadU32(query, kQueryUserOffset)};
  return selection;
}

bool EventLog::Add(const LogRecord& record) {
  if (records_.size() >= capacity_) return false;
  const auto at = std::upper_bound(records_.begin(), records_.end(), RecordTime(record), TimeAfter);
  records_.insert(at, record);
  return true;
}

void EventLog::Assign(std::vector<LogRecord> records) {
  std::stable_sort(records.begin(), records.end(), [](const LogRecord& a, const LogRecord& b) {
    return RecordTime(a) < RecordTime(b);
  });
  records_ = std::move(records);
}

EventLog::Range EventLog::TimeRange(const LogSelection& selection) const {
  Iterator begin = records_.begin();
  Iterator end = records_.end();
  if (selection.from) begin = std::lower_bound(begin, end, *selection.from, TimeBefore);
  // Searched from `begin`, so a "to" before the "from" gives an empty range.
  if (selection.to) end = std::upper_bound(begin, end, *selection.to, TimeAfter);
  return {begin, end};
}

std::size_t EventLog::Count(const LogSelection& selection) const {
  const Range range = TimeRange(selection);
  if (!selection.owners && !selection.in_out_state) return static_cast<std::size_t>(range.end - range.begin);
  return static_cast<std::size_t>(std::count_if(
      range.begin, range.end, [&](const LogRecord& r) { return MatchesFilters(r, selection); }));
}

std::vector<LogRecord> EventLog::Select(const LogSelection& selection) const {
  const Range range = TimeRange(selection);
  std::vector<LogRecord> selected;
  if (!selection.owners && !selection.in_out_state) {
    selected.assign(range.begin, range.end);
  } else {
    std::copy_if(range.begin, range.end, std::back_inserter(selected),
                 [&](const LogRecord& r) { return MatchesFilters(r, selection); });
  }
  return selected;
}

std::size_t EventLog::Erase(const LogSelection& selection) {
  const Range range = TimeRange(selection);
  const auto first = records_.begin() + (range.begin - records_.cbegin());
  const auto last = records_.begin() + (range.end - records_.cbegin());
  const auto kept_end = std::remove_if(first, last, [&](const LogRecord& r) {
    return MatchesFilters(r, selection);
  });
  const auto erased = static_cast<std::size_t>(last - kept_end);
  records_.erase(kept_end, last);
  return erased;
}

}  // namespace pq640sim
