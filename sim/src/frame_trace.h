// One-line hex renderings of frames for --trace.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "pq640sim/request_parser.h"

namespace pq640sim {

std::string HexBytes(std::span<const std::uint8_t> bytes);
// "request  CheckLink (0x01): 51 51 ... 00" plus " [note]" when a note is given.
std::string RequestTraceLine(const RequestFrame& frame, std::string_view note = {});
std::string ResponseTraceLine(std::uint8_t command, std::span<const std::uint8_t> bytes,
                              std::string_view note = {});

}  // namespace pq640sim
