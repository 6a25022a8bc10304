#include "pq640sim/wire_format.h"

#include "pq640sim/little_endian.h"

namespace pq640sim {

std::uint8_t XorChecksum(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t byte : bytes) sum ^= byte;
  return sum;
}

std::vector<std::uint8_t> EncodeResponse(std::uint16_t terminal_id, std::uint8_t result,
                                         std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> frame;
  frame.reserve(5 + payload.size());
  frame.push_back(kStartByte);
  AppendU16(frame, terminal_id);
  frame.push_back(result);
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(XorChecksum(std::span(frame).subspan(1)));
  return frame;
}

}  // namespace pq640sim
