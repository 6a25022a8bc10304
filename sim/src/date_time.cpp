#include "pq640sim/date_time.h"

#include <algorithm>
#include <cstdio>

namespace pq640sim {
namespace {

using namespace std::chrono;

constexpr int kCenturyStart = 2000;

year_month_day CivilDate(const DateTime& value) {
  return year_month_day{year{kCenturyStart + value.year}, month{value.month}, day{value.day}};
}

}  // namespace

bool IsValidDateTime(const DateTime& value) {
  if (value.hour > 23 || value.minute > 59 || value.second > 59) return false;
  if (value.year > 99) return false;
  return CivilDate(value).ok();
}

std::array<std::uint8_t, 6> ToBytes(const DateTime& value) {
  return {value.year, value.month, value.day, value.hour, value.minute, value.second};
}

DateTime FromBytes(std::span<const std::uint8_t, 6> bytes) {
  return DateTime{bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]};
}

std::optional<DateTime> ParseDateTime(std::string_view text) {
  // Exactly "YY-MM-DD hh:mm:ss": two digits per field and fixed separators.
  constexpr std::string_view kShape = "00-00-00 00:00:00";
  if (text.size() != kShape.size()) return std::nullopt;
  std::array<std::uint8_t, 6> fields{};
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const char c = text[i];
    if (kShape[i] == '0') {
      if (c < '0' || c > '9') return std::nullopt;
      auto& field = fields[i / 3];
      field = static_cast<std::uint8_t>(field * 10 + (c - '0'));
    } else if (c != kShape[i]) {
      return std::nullopt;
    }
  }
  const DateTime value = FromBytes(fields);
  if (!IsValidDateTime(value)) return std::nullopt;
  return value;
}

std::string FormatDateTime(const DateTime& value) {
  char text[40];
  std::snprintf(text, sizeof text, "%02u-%02u-%02u %02u:%02u:%02u", value.year, value.month,
                value.day, value.hour, value.minute, value.second);
  return text;
}

sys_seconds ToSysSeconds(const DateTime& value) {
  return sys_days{CivilDate(value)} + hours{value.hour} + minutes{value.minute} +
         seconds{value.second};
}

DateTime FromSysSeconds(sys_seconds time) {
  const sys_seconds first = sys_days{year{kCenturyStart} / January / 1};
  const sys_seconds last = sys_days{year{kCenturyStart + 99} / December / 31} + hours{23} +
                           minutes{59} + seconds{59};
  time = std::clamp(time, first, last);
  const sys_days date = floor<days>(time);
  const year_month_day ymd{date};
  const hh_mm_ss clock{time - date};
  return DateTime{static_cast<std::uint8_t>(int(ymd.year()) - kCenturyStart),
                  static_cast<std::uint8_t>(unsigned(ymd.month())),
                  static_cast<std::uint8_t>(unsigned(ymd.day())),
                  static_cast<std::uint8_t>(clock.hours().count()),
                  static_cast<std::uint8_t>(clock.minutes().count()),
                  static_cast<std::uint8_t>(clock.seconds().count())};
}

}  // namespace pq640sim
