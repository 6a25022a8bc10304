// The terminal's event-log records and the query that selects them. The host
// library passes these bytes through untouched; the terminal defines them, and
// this is the one place they are defined. Integers are little-endian; a
// DateTime is YY MM DD hh mm ss (date_time.h).
//
// RecordQuery (18 bytes), the request payload of the Get/Num/Delete log commands:
// | Offset | Size | Field                                                    |
// |--------|------|----------------------------------------------------------|
// | 0      | 1    | kind: 0 all, 1 time range, 2 one user, 3 one user in a   |
// |        |      | time range; any other kind is refused (0x0B)             |
// | 1      | 6    | from DateTime (kinds 1 and 3)                            |
// | 7      | 6    | to DateTime (kinds 1 and 3)                              |
// | 13     | 4    | user ID (kinds 2 and 3)                                  |
// | 17     | 1    | reserved, ignored                                        |
//
// IORecord (16 bytes):                AdminRecord (16 bytes):
// | Offset | Size | Field          |  | Offset | Size | Field             |
// |--------|------|----------------|  |--------|------|-------------------|
// | 0      | 6    | DateTime       |  | 0      | 6    | DateTime          |
// | 6      | 4    | user ID        |  | 6      | 4    | administrator ID  |
// | 10     | 1    | verification   |  | 10     | 1    | operation         |
// | 11     | 1    | in/out state   |  | 11     | 4    | target user ID    |
// | 12     | 4    | work code      |  | 15     | 1    | reserved          |
//
// "One user" in a query means the ID at offset 6: the user of an IO record,
// the administrator of an administrator record.
//
// Time ranges include both ends. Times compare as the six DateTime bytes read
// as one number (year first), so ordering never depends on a valid calendar.
//
// Selector of GetUsersIORecord(Num): 0xFF any in/out state, any other value
// only records whose in/out state equals it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace pq640sim {

inline constexpr std::size_t kLogRecordSize = 16;
inline constexpr std::size_t kRecordQuerySize = 18;
using LogRecord = std::array<std::uint8_t, kLogRecordSize>;

inline constexpr std::size_t kQueryKindOffset = 0;
inline constexpr std::size_t kQueryFromOffset = 1;
inline constexpr std::size_t kQueryToOffset = 7;
inline constexpr std::size_t kQueryUserOffset = 13;

// Offsets in both record kinds.
inline constexpr std::size_t kRecordTimeOffset = 0;
inline constexpr std::size_t kRecordOwnerOffset = 6;  // user ID / administrator ID
// IO record only.
inline constexpr std::size_t kIoVerificationOffset = 10;
inline constexpr std::size_t kIoStateOffset = 11;
inline constexpr std::size_t kIoWorkCodeOffset = 12;
// Administrator record only.
inline constexpr std::size_t kAdminOperationOffset = 10;
inline constexpr std::size_t kAdminTargetOffset = 11;

inline constexpr std::uint8_t kAnyInOutState = 0xFF;

enum class QueryKind : std::uint8_t {
  kAll = 0,
  kTimeRange = 1,
  kOneUser = 2,
  kOneUserInTimeRange = 3,
};

// A DateTime as a number that sorts in time order.
using TimeKey = std::uint64_t;
TimeKey TimeKeyOf(std::span<const std::uint8_t, 6> date_time);
TimeKey RecordTime(const LogRecord& record);
std::uint32_t RecordOwner(const LogRecord& record);

}  // namespace pq640sim
