// Spans of time in the config: a whole number and a unit, "90s", "5m",
// "12h", "30d". Nothing else is accepted, so a typo never means "0".
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace pq640collect {

std::optional<std::chrono::seconds> ParseDuration(std::string_view text);

}  // namespace pq640collect
