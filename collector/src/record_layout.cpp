#include "record_layout.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace pq640collect {
namespace {

// Days from 2000-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 730425;  // 730425: 0000-03-01 .. 2000-01-01
}

std::uint32_t Le32(const RawRecord& raw, std::size_t at) {
  return static_cast<std::uint32_t>(raw[at]) | static_cast<std::uint32_t>(raw[at + 1]) << 8 |
         static_cast<std::uint32_t>(raw[at + 2]) << 16 | static_cast<std::uint32_t>(raw[at + 3]) << 24;
}

}  // namespace

std::int64_t WallSeconds(const PQ640_DateTime& time) {
  return DaysFromCivil(2000 + time.year, time.month, time.day) * 86400 + time.hour * 3600 +
         time.minute * 60 + time.second;
}

PQ640_DateTime FromWallSeconds(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from days since 2000-01-01 (inverse of DaysFromCivil).
  const std::int64_t z = days + 730425;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(z - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2);
  PQ640_DateTime time{};
  time.year = static_cast<std::uint8_t>(year - 2000);
  time.month = static_cast<std::uint8_t>(month);
  time.day = static_cast<std::uint8_t>(day);
  time.hour = static_cast<std::uint8_t>(rest / 3600);
  time.minute = static_cast<std::uint8_t>(rest / 60 % 60);
  time.second = static_cast<std::uint8_t>(rest % 60);
  return time;
}

PQ640_DateTime RecordTime(const RawRecord& raw) {
  PQ640_DateTime time;
  std::memcpy(&time, raw.data(), sizeof time);
  return time;
}

std::string HexDigits(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::string TimeText(const PQ640_DateTime& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  return text;
}

std::optional<PQ640_DateTime> ParseTimeText(std::string_view text, bool end_of_day) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char tail = 0;
  const std::string copy(text);
  if (copy.size() == 10 && std::sscanf(copy.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) == 3) {
    if (end_of_day) {
      hour = 23;
      minute = 59;
      second = 59;
    }
  } else if (copy.size() != 19 || std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month,
                                              &day, &hour, &minute, &second, &tail) != 6) {
    return std::nullopt;
  }
  if (year < 2000 || year > 2099) return std::nullopt;
  PQ640_DateTime time{static_cast<std::uint8_t>(year - 2000), static_cast<std::uint8_t>(month),
                      static_cast<std::uint8_t>(day),         static_cast<std::uint8_t>(hour),
                      static_cast<std::uint8_t>(minute),      static_cast<std::uint8_t>(second)};
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59 ||
      !PQ640_IsValidDateTime(&time)) {
    return std::nullopt;
  }
  return time;
}

IoFields DecodeIo(const RawRecord& raw) {
  return IoFields{Le32(raw, 6), raw[10], raw[11], Le32(raw, 12)};
}

AdminFields DecodeAdmin(const RawRecord& raw) {
  return AdminFields{Le32(raw, 6), raw[10], Le32(raw, 11)};
}

PQ640_RecordQuery RangeQuery(const std::optional<QueryTemplate>& custom, const PQ640_DateTime& from,
                             const PQ640_DateTime& to) {
  PQ640_RecordQuery query{};
  QueryTemplate layout;
  layout.bytes[0] = 1;  // kind: time range
  if (custom) layout = *custom;
  std::memcpy(query.bytes, layout.bytes.data(), sizeof query.bytes);
  std::memcpy(query.bytes + layout.from_offset, &from, sizeof from);
  std::memcpy(query.bytes + layout.to_offset, &to, sizeof to);
  return query;
}

std::vector<std::uint32_t> DuplicateIndexes(std::span<const RawRecord> records) {
  struct RawHash {
    std::size_t operator()(const RawRecord& raw) const {
      std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
      for (std::uint8_t byte : raw) hash = (hash ^ byte) * 1099511628211ull;
      return static_cast<std::size_t>(hash);
    }
  };
  std::vector<std::uint32_t> indexes(records.size(), 0);
  std::unordered_map<RawRecord, std::uint32_t, RawHash> seen;
  seen.reserve(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) indexes[i] = seen[records[i]]++;
  return indexes;
}

}  // namespace pq640collect
