// The fields of the 16-bit line-setting word. The library interprets only the
// baud code; the other two fields are range-checked and forwarded.
#pragma once

#include <cstdint>

namespace pq640 {

constexpr std::uint32_t BaudCode(std::uint32_t comm_state) { return comm_state & 0x0Fu; }
constexpr std::uint32_t LineFieldB(std::uint32_t comm_state) { return (comm_state >> 4) & 0x07u; }
constexpr std::uint32_t LineFieldC(std::uint32_t comm_state) { return (comm_state >> 7) & 0x03u; }

// True when each of the three fields is within its limit.
constexpr bool CommStateWithin(std::uint32_t comm_state, std::uint32_t max_baud_code,
                               std::uint32_t max_field_b, std::uint32_t max_field_c) {
  return BaudCode(comm_state) <= max_baud_code && LineFieldB(comm_state) <= max_field_b &&
         LineFieldC(comm_state) <= max_field_c;
}

}  // namespace pq640
