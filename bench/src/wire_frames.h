// The benchmark's own encoder of the terminal's frames, written from the wire
// format rather than taken from the library or the simulator, so that the
// replay server's bytes are an independent account of what goes over the line.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pq640bench {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint16_t kTerminalId = 1;

void AppendU8(Bytes& out, std::uint8_t value);
void AppendU16(Bytes& out, std::uint16_t value);
void AppendU32(Bytes& out, std::uint32_t value);
void AppendBytes(Bytes& out, std::span<const std::uint8_t> bytes);

// "QQAVRENPROTOCOL", 0x7F, ID, command, payload, XOR of ID..payload.
Bytes RequestFrame(std::uint8_t command, std::span<const std::uint8_t> payload);
// 0x7F, ID, result, payload, XOR of ID..payload.
Bytes ResponseFrame(std::uint8_t result, std::span<const std::uint8_t> payload);

}  // namespace pq640bench
