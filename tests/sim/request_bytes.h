// Request frames as a host would send them, built byte by byte in the tests so
// that they do not lean on the simulator's own framing code.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace pq640sim::test {

inline constexpr std::string_view kPreambleText = "QQAVRENPROTOCOL";

inline std::vector<std::uint8_t> RequestBytes(std::uint16_t terminal_id, std::uint8_t command,
                                              std::vector<std::uint8_t> payload = {}) {
  std::vector<std::uint8_t> frame(kPreambleText.begin(), kPreambleText.end());
  frame.push_back(0x7F);
  const std::uint8_t id_low = static_cast<std::uint8_t>(terminal_id);
  const std::uint8_t id_high = static_cast<std::uint8_t>(terminal_id >> 8);
  frame.insert(frame.end(), {id_low, id_high, command});
  std::uint8_t checksum = id_low ^ id_high ^ command;
  for (std::uint8_t byte : payload) checksum ^= byte;
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(checksum);
  return frame;
}

inline std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> first,
                                        const std::vector<std::uint8_t>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

}  // namespace pq640sim::test
