// Text forms of the terminal's values: the clock in ISO 8601 form
// "YYYY-MM-DD hh:mm:ss", byte blocks as hex lines, and hex strings.
#pragma once

#include <pq640/pq640.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pq640admin {

// "YYYY-MM-DD hh:mm:ss" (years 2000..2255, as a year byte counts from 2000),
// or the older short form "YY-MM-DD hh:mm:ss". Only the form is checked:
// whether the date exists is PQ640_IsValidDateTime's call.
std::optional<PQ640_DateTime> ParseDateTime(std::string_view text);
// "YYYY-MM-DD" alone: that day at 00:00:00, or at 23:59:59 with end_of_day.
std::optional<PQ640_DateTime> ParseDay(std::string_view text, bool end_of_day);
std::string FormatDateTime(const PQ640_DateTime& value);

// The rule a time typed by the user breaks, in words ("the terminal's clock
// holds the years 2000..2099, not 1999"); empty when it is a real date and
// time the clock can hold. `day_allowed`: "YYYY-MM-DD" alone is a form too.
std::string DateTimeProblem(std::string_view text, bool day_allowed);

// A broken-down host time; nothing outside the years 2000..2099, which the
// terminal's clock cannot hold.
std::optional<PQ640_DateTime> DateTimeFromTm(const std::tm& time);

// "1 user", "2 users": a count with the noun in the right number.
std::string CountOf(std::uint64_t n, std::string_view singular, std::string_view plural);

// Sixteen bytes a line, each line led by its offset: "10: 10 11 ... 1f".
std::string FormatHexLines(std::span<const std::uint8_t> bytes);

// Two lower-case hex digits per byte, nothing between.
std::string HexDigits(std::span<const std::uint8_t> bytes);

// Two hex digits per byte, any case; spaces between bytes are allowed.
std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text);

}  // namespace pq640admin
