#include "text_format.h"

#include <array>
#include <cstddef>
#include <cstdio>

namespace pq640admin {
namespace {

constexpr std::string_view kDateTimeForm = "00-00-00 00:00:00";

// The two decimal digits at `at`, or nothing.
std::optional<std::uint8_t> TwoDigits(std::string_view text, std::size_t at) {
  const char high = text[at];
  const char low = text[at + 1];
  if (high < '0' || high > '9' || low < '0' || low > '9') return std::nullopt;
  return static_cast<std::uint8_t>((high - '0') * 10 + (low - '0'));
}

}  // namespace

std::optional<PQ640_DateTime> ParseDateTime(std::string_view text) {
  if (text.size() != kDateTimeForm.size()) return std::nullopt;
  std::array<std::uint8_t, 6> fields{};
  for (std::size_t field = 0; field < fields.size(); ++field) {
    const std::size_t at = field * 3;
    const auto value = TwoDigits(text, at);
    if (!value) return std::nullopt;
    fields[field] = *value;
    const std::size_t separator = at + 2;
    if (separator < text.size() && text[separator] != kDateTimeForm[separator]) {
      return std::nullopt;
    }
  }
  return PQ640_DateTime{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]};
}

std::string FormatDateTime(const PQ640_DateTime& value) {
  char text[32];
  std::snprintf(text, sizeof text, "%02u-%02u-%02u %02u:%02u:%02u", unsigned{value.year},
                unsigned{value.month}, unsigned{value.day}, unsigned{value.hour},
                unsigned{value.minute}, unsigned{value.second});
  return text;
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

}  // namespace pq640admin
