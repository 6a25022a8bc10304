// The terminal's log layouts as the simulator documents them, and the plain
// time arithmetic the collector needs on terminal clock values.
//   IO record:    0 DateTime, 6 user ID (u32), 10 verification, 11 in/out, 12 work code (u32)
//   Admin record: 0 DateTime, 6 administrator ID (u32), 10 operation, 11 target user (u32)
//   Query:        0 kind (1 = time range), 1 from, 7 to, 13 user ID, 17 reserved
#pragma once

#include <pq640/pq640.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config_file.h"

namespace pq640collect {

using RawRecord = std::array<std::uint8_t, 16>;

enum class LogKind { kIo, kAdmin };

// Seconds since 2000-01-01 00:00:00 of a wall-clock value, without any time
// zone: differences of these are differences of the terminal's clock.
std::int64_t WallSeconds(const PQ640_DateTime& time);
PQ640_DateTime FromWallSeconds(std::int64_t seconds);

PQ640_DateTime RecordTime(const RawRecord& raw);
// Two lower-case hex digits per byte, nothing between: raw records in the
// databases and exports, and file names made from free text.
std::string HexDigits(std::span<const std::uint8_t> bytes);
// "2026-03-15 07:30:00"; sorts in time order as text.
std::string TimeText(const PQ640_DateTime& time);
// The same form, or a day "2026-03-15" (its first second, or its last).
std::optional<PQ640_DateTime> ParseTimeText(std::string_view text, bool end_of_day = false);

struct IoFields {
  std::uint32_t user_id = 0;
  std::uint8_t verification = 0;
  std::uint8_t in_out = 0;
  std::uint32_t work_code = 0;
};
struct AdminFields {
  std::uint32_t admin_id = 0;
  std::uint8_t operation = 0;
  std::uint32_t target_user_id = 0;
};
IoFields DecodeIo(const RawRecord& raw);
AdminFields DecodeAdmin(const RawRecord& raw);

inline constexpr PQ640_DateTime kFirstSecond{0, 1, 1, 0, 0, 0};

// The time-range query from..to (both ends included), in the documented
// layout or written into the terminal's own template.
PQ640_RecordQuery RangeQuery(const std::optional<QueryTemplate>& custom, const PQ640_DateTime& from,
                             const PQ640_DateTime& to);

// For each record, how many identical records (all 16 bytes) come before it
// in the list. Identical records share their second, so in a read that starts
// at or before that second this is the record's position among its twins on
// the terminal: the key that tells a re-read twin from a new one.
std::vector<std::uint32_t> DuplicateIndexes(std::span<const RawRecord> records);

}  // namespace pq640collect
