// One event log (IO records or administrator records): kept in time order,
// records of equal time in the order they were added, so that a time range is
// found by binary search and read in O(log n + k).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "pq640sim/log_layout.h"

namespace pq640sim {

// What a request selects from a log. Every part left empty selects all.
struct LogSelection {
  std::optional<TimeKey> from;  // inclusive
  std::optional<TimeKey> to;    // inclusive
  std::optional<std::vector<std::uint32_t>> owners;  // sorted: the IDs at offset 6
  std::optional<std::uint8_t> in_out_state;          // IO records: the byte at offset 11
};

// Nothing for a query of an unknown kind.
std::optional<LogSelection> SelectionOfQuery(std::span<const std::uint8_t, kRecordQuerySize> query);

class EventLog {
 public:
  explicit EventLog(std::size_t capacity) : capacity_(capacity) {}

  std::size_t Capacity() const { return capacity_; }
  void SetCapacity(std::size_t capacity) { capacity_ = capacity; }
  std::size_t Size() const { return records_.size(); }
  const std::vector<LogRecord>& Records() const { return records_; }

  // Inserted after every record of the same time. False when the log is full.
  bool Add(const LogRecord& record);
  // Replaces the whole log, ignoring the capacity (seeding); sorts stably by time.
  void Assign(std::vector<LogRecord> records);
  void Clear() { records_.clear(); }

  std::size_t Count(const LogSelection& selection) const;
  std::vector<LogRecord> Select(const LogSelection& selection) const;
  // Returns how many records went.
  std::size_t Erase(const LogSelection& selection);

 private:
  using Iterator = std::vector<LogRecord>::const_iterator;
  struct Range {
    Iterator begin;
    Iterator end;
  };
  Range TimeRange(const LogSelection& selection) const;

  std::size_t capacity_;
  std::vector<LogRecord> records_;
};

}  // namespace pq640sim
