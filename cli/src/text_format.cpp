#include "text_format.h"

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdio>

namespace pq640admin {
namespace {

// The decimal number in text[at, at + digits), or nothing.
std::optional<unsigned> Digits(std::string_view text, std::size_t at, std::size_t digits) {
  unsigned value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return value;
}

// Fields of "Y-MM-DD hh:mm:ss" where the year has `year_digits` digits.
std::optional<std::array<unsigned, 6>> SplitFields(std::string_view text,
                                                   std::size_t year_digits) {
  static constexpr std::string_view kSeparators = "-- ::";  // after each field but the last
  if (text.size() != year_digits + 15) return std::nullopt;
  std::array<unsigned, 6> fields{};
  std::size_t at = 0;
  for (std::size_t field = 0; field < fields.size(); ++field) {
    const std::size_t digits = field == 0 ? year_digits : 2;
    const auto value = Digits(text, at, digits);
    if (!value) return std::nullopt;
    fields[field] = *value;
    at += digits;
    if (field + 1 < fields.size()) {
      if (text[at] != kSeparators[field]) return std::nullopt;
      ++at;
    }
  }
  return fields;
}

std::optional<std::uint8_t> YearByte(unsigned full_year) {
  if (full_year < 2000 || full_year > 2255) return std::nullopt;
  return static_cast<std::uint8_t>(full_year - 2000);
}

PQ640_DateTime FromFields(std::uint8_t year, const std::array<unsigned, 6>& f) {
  return PQ640_DateTime{year,
                        static_cast<std::uint8_t>(f[1]),
                        static_cast<std::uint8_t>(f[2]),
                        static_cast<std::uint8_t>(f[3]),
                        static_cast<std::uint8_t>(f[4]),
                        static_cast<std::uint8_t>(f[5])};
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<PQ640_DateTime> ParseDateTime(std::string_view text) {
  if (const auto iso = SplitFields(text, 4)) {
    const auto year = YearByte((*iso)[0]);
    if (!year) return std::nullopt;
    return FromFields(*year, *iso);
  }
  if (const auto short_form = SplitFields(text, 2)) {
    return FromFields(static_cast<std::uint8_t>((*short_form)[0]), *short_form);
  }
  return std::nullopt;
}

std::optional<PQ640_DateTime> ParseDay(std::string_view text, bool end_of_day) {
  if (text.size() != 10) return std::nullopt;
  const std::string full =
      std::string(text) + (end_of_day ? std::string(" 23:59:59") : std::string(" 00:00:00"));
  return ParseDateTime(full);
}

std::string FormatDateTime(const PQ640_DateTime& value) {
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 2000u + value.year,
                unsigned{value.month}, unsigned{value.day}, unsigned{value.hour},
                unsigned{value.minute}, unsigned{value.second});
  return text;
}

std::string DateTimeProblem(std::string_view text, bool day_allowed) {
  std::string full(text);
  if (day_allowed && text.size() == 10) full += " 00:00:00";
  const auto iso = SplitFields(full, 4);
  const auto short_form = iso ? std::nullopt : SplitFields(full, 2);
  if (!iso && !short_form) {
    return std::string("expected \"YYYY-MM-DD hh:mm:ss\"") + (day_allowed ? " or a day \"YYYY-MM-DD\"" : "") +
           ", got \"" + std::string(text) + "\"";
  }
  const auto& fields = iso ? *iso : *short_form;
  if (iso && (fields[0] < 2000 || fields[0] > 2099)) {
    return "the terminal's clock holds the years 2000..2099, not " + std::to_string(fields[0]);
  }
  const PQ640_DateTime value = FromFields(static_cast<std::uint8_t>(iso ? fields[0] - 2000 : fields[0]), fields);
  if (!PQ640_IsValidDateTime(&value)) {
    return "\"" + std::string(text) +
           "\" is not a real date and time (months 1..12, days of that month, hours 0..23, minutes and "
           "seconds 0..59)";
  }
  return "";
}

std::optional<PQ640_DateTime> DateTimeFromTm(const std::tm& time) {
  const int year = time.tm_year + 1900 - 2000;
  if (year < 0 || year > 99) return std::nullopt;
  // A leap second (tm_sec 60) has no place on the terminal's clock.
  const int second = time.tm_sec > 59 ? 59 : time.tm_sec;
  return PQ640_DateTime{
      static_cast<std::uint8_t>(year),         static_cast<std::uint8_t>(time.tm_mon + 1),
      static_cast<std::uint8_t>(time.tm_mday), static_cast<std::uint8_t>(time.tm_hour),
      static_cast<std::uint8_t>(time.tm_min),  static_cast<std::uint8_t>(second)};
}

std::string CountOf(std::uint64_t n, std::string_view singular, std::string_view plural) {
  return std::to_string(n) + " " + std::string(n == 1 ? singular : plural);
}

std::string FormatHexLines(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kPerLine = 16;
  std::string text;
  char cell[24];
  for (std::size_t offset = 0; offset < bytes.size(); offset += kPerLine) {
    std::snprintf(cell, sizeof cell, "%02zx:", offset);
    text += cell;
    for (std::size_t i = offset; i < offset + kPerLine && i < bytes.size(); ++i) {
      std::snprintf(cell, sizeof cell, " %02x", unsigned{bytes[i]});
      text += cell;
    }
    text += '\n';
  }
  return text;
}

std::string HexDigits(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    i += 2;
  }
  return bytes;
}

}  // namespace pq640admin
