#include "durations.h"

#include <charconv>
#include <cstdint>

namespace pq640collect {

std::optional<std::chrono::seconds> ParseDuration(std::string_view text) {
  if (text.size() < 2) return std::nullopt;
  std::int64_t unit = 0;
  switch (text.back()) {
    case 's': unit = 1; break;
    case 'm': unit = 60; break;
    case 'h': unit = 3600; break;
    case 'd': unit = 86400; break;
    default: return std::nullopt;
  }
  const std::string_view digits = text.substr(0, text.size() - 1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  // Ten years is more than any schedule or retention needs; beyond it the
  // text is surely a mistake.
  if (error != std::errc{} || end != digits.data() + digits.size() || value < 0 ||
      value > 3650 * 86400 / unit) {
    return std::nullopt;
  }
  return std::chrono::seconds(value * unit);
}

}  // namespace pq640collect
