// Text forms of the terminal's values: the clock as "YY-MM-DD hh:mm:ss" and
// byte blocks as hex lines.
#pragma once

#include <pq640/pq640.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pq640admin {

// Exactly "YY-MM-DD hh:mm:ss" with two digits per field. Only the form is
// checked: whether the date exists is the library's call.
std::optional<PQ640_DateTime> ParseDateTime(std::string_view text);
std::string FormatDateTime(const PQ640_DateTime& value);

// A broken-down host time; nothing outside the years 2000..2099, which the
// terminal's clock cannot hold.
std::optional<PQ640_DateTime> DateTimeFromTm(const std::tm& time);

// Sixteen bytes a line, each line led by its offset: "10: 10 11 ... 1f".
std::string FormatHexLines(std::span<const std::uint8_t> bytes);

}  // namespace pq640admin
