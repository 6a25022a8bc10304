// The terminal's answer to one request before framing.
#pragma once

#include <cstdint>
#include <vector>

#include "pq640sim/result_bytes.h"

namespace pq640sim {

struct Reply {
  std::uint8_t result = kResultOk;
  std::vector<std::uint8_t> payload;  // sent only when result is kResultOk
};

}  // namespace pq640sim
