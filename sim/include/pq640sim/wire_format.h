// The terminal's side of the frame format.
//
// Request (host -> terminal): "QQAVRENPROTOCOL", 0x7F, terminal ID (u16 LE),
// command, payload (length fixed by the command), checksum.
// Response (terminal -> host): 0x7F, terminal ID (u16 LE), result, payload
// (only when the result is 0 and the command returns data), checksum.
// Both checksums are the XOR of every byte between the start byte and the
// checksum itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace pq640sim {

inline constexpr std::string_view kPreamble = "QQAVRENPROTOCOL";
inline constexpr std::uint8_t kStartByte = 0x7F;
// Preamble, start byte, terminal ID and command: everything before the payload.
inline constexpr std::size_t kRequestHeaderSize = kPreamble.size() + 1 + 2 + 1;
inline constexpr std::uint16_t kDefaultTcpPort = 7413;

std::uint8_t XorChecksum(std::span<const std::uint8_t> bytes);

// A complete response frame: start byte, ID, result, payload, checksum.
std::vector<std::uint8_t> EncodeResponse(std::uint16_t terminal_id, std::uint8_t result,
                                         std::span<const std::uint8_t> payload = {});

}  // namespace pq640sim
