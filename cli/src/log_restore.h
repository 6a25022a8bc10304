// Restoring logs without doubling them: the records of a backup that the
// terminal does not hold yet, compared as multisets of their 16 bytes (two
// identical punches in the same second are two records), so a run after an
// interruption adds exactly the missing ones.
#pragma once

#include <pq640/pq640.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "log_query.h"

namespace pq640admin {

template <typename Record>
std::vector<Record> MissingRecords(const std::vector<Record>& wanted, const std::vector<Record>& present) {
  static_assert(sizeof(Record) == 16);
  using Key = std::array<std::uint8_t, 16>;
  const auto key = [](const Record& record) {
    Key k;
    std::memcpy(k.data(), &record, k.size());
    return k;
  };
  std::map<Key, std::size_t> held;
  for (const Record& record : present) ++held[key(record)];
  std::vector<Record> missing;
  for (const Record& record : wanted) {
    auto found = held.find(key(record));
    if (found != held.end() && found->second > 0) {
      --found->second;
    } else {
      missing.push_back(record);
    }
  }
  return missing;
}

// The query for the time range the records span (every record when there
// are none): what the terminal holds of them is read over that range only.
PQ640_RecordQuery RangeQueryOf(const std::vector<PQ640_IORecord>& records);

}  // namespace pq640admin
