// Usage errors in the user's terms: numbers with their valid range, the
// link options in the forms the README shows, and an unknown command named
// with the nearest valid one. Every message carries the "pq640-admin: "
// prefix and states the rule that was broken, never a generic result text.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pq640admin {

// Numbers are decimal or 0x-prefixed hex (leading zeros of a decimal do not
// make it octal); with a range, a number outside it is refused naming it:
// "user IDs are 0..4294967295, got 4294967296".
CLI::Validator DecimalOrHex();
CLI::Validator NumberIn(std::uint64_t low, std::uint64_t high, const std::string& what);

// "--serial" takes N or COMn (n 1..10); nothing for anything else.
std::optional<std::uint16_t> ParseSerialPort(std::string_view text);
// Why a --tcp/--to address cannot be used, or nothing: a dotted IPv4
// address only, without a name or a port.
std::optional<std::string> AddressProblem(std::string_view text);

// The nearest of `names` to `typed` (edit distance at most 3), or nothing.
std::optional<std::string> NearestName(std::string_view typed, const std::vector<std::string>& names);

// The message for a failed parse, prefixed, with the unknown command and
// the nearest valid one where that is what went wrong.
std::string UsageMessage(const CLI::App& root, const CLI::Error& error);

}  // namespace pq640admin
