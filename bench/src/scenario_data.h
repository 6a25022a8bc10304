// The records the scenarios move, in caller memory and in wire form. The same
// records seed the simulator, so both servers answer with identical bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pq640/pq640.h"
#include "wire_frames.h"

namespace pq640bench {

inline constexpr std::uint32_t kUserCount = 1000;
inline constexpr std::size_t kLogRecordCount = 100000;
inline constexpr std::size_t kLogRangeCount = 10000;

// A user with two templates and a 10-byte code: 986 bytes on the wire.
PQ640_UserData MakeUser(std::uint32_t id);
Bytes UserWire(const PQ640_UserData& user);

// Record i: one second after record i - 1, from 2025-01-01 00:00:00, so every
// time stamp is a real date and time and the log is in time order. Bytes 6..15
// follow the terminal's layout: user 1 + i % 1000, method, in/out state, work code.
PQ640_IORecord MakeIoRecord(std::size_t index);
PQ640_DateTime IoRecordTime(std::size_t index);

// The terminal's queries: every record, or a time range (both ends included).
PQ640_RecordQuery AllRecordsQuery();
PQ640_RecordQuery TimeRangeQuery(const PQ640_DateTime& from, const PQ640_DateTime& to);

// The data set every scenario draws from.
struct DataSet {
  std::vector<PQ640_UserData> users;   // IDs 1..1000
  std::vector<std::uint32_t> user_ids; // 1..1000
  std::vector<PQ640_IORecord> io_records;
};
DataSet MakeDataSet();

bool SameUser(const PQ640_UserData& a, const PQ640_UserData& b);

}  // namespace pq640bench
