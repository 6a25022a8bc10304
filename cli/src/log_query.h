// The 18-byte log query, built in the layout the simulator documents:
//   byte 0 kind (0 all, 1 time range, 2 one user, 3 one user in a time range),
//   bytes 1-6 from, 7-12 to (YY MM DD hh mm ss), bytes 13-16 user ID
//   (little-endian), byte 17 reserved.
// A terminal that defines queries differently gets raw bytes (--query-hex).
#pragma once

#include <pq640/pq640.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pq640admin {

struct LogFilter {
  std::optional<PQ640_DateTime> from;
  std::optional<PQ640_DateTime> to;
  std::optional<std::uint32_t> user;  // the administrator in the administrator log
};

// An open end of a time range reaches the first or last second the
// terminal's clock can hold.
PQ640_RecordQuery BuildQuery(const LogFilter& filter);

// A time bound from the command line: "YYYY-MM-DD hh:mm:ss", the short
// "YY-MM-DD hh:mm:ss", or a day "YYYY-MM-DD" (its first second for --from,
// its last for --to). Nothing unless it is a real date and time.
std::optional<PQ640_DateTime> ParseTimeBound(std::string_view text, bool end_of_range);

// 36 hex digits (spaces allowed between bytes), or nothing.
std::optional<PQ640_RecordQuery> ParseQueryHex(std::string_view text);

// Byte order comparison, year first: how the terminal orders times.
bool TimeBefore(const PQ640_DateTime& a, const PQ640_DateTime& b);

}  // namespace pq640admin
