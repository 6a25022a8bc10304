// The terminal's six-byte clock value: YY MM DD hh mm ss, binary, with the
// year counted from 2000 (0..99 = 2000..2099).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pq640sim {

struct DateTime {
  std::uint8_t year = 0;
  std::uint8_t month = 1;
  std::uint8_t day = 1;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;

  bool operator==(const DateTime&) const = default;
};

// A real calendar date and time within 2000..2099 (leap years included).
bool IsValidDateTime(const DateTime& value);

std::array<std::uint8_t, 6> ToBytes(const DateTime& value);
DateTime FromBytes(std::span<const std::uint8_t, 6> bytes);

// "YY-MM-DD hh:mm:ss"; nothing for any other form or an invalid value.
std::optional<DateTime> ParseDateTime(std::string_view text);
std::string FormatDateTime(const DateTime& value);

// Seconds on the UTC time line for a valid value, and back. Values before 2000
// or after 2099 have no six-byte form and are clamped into the century.
std::chrono::sys_seconds ToSysSeconds(const DateTime& value);
DateTime FromSysSeconds(std::chrono::sys_seconds time);

}  // namespace pq640sim
