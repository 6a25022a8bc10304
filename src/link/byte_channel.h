// Moves exact byte counts over the selected link and keeps the running XOR
// checksum of the frame. Every byte between library and terminal passes here.
#pragma once

#include <cstdint>

#include "port/port_state.h"

namespace pq640 {

ResultCode SendBytes(const std::uint8_t* data, std::uint32_t count);
ResultCode ReceiveBytes(std::uint8_t* buffer, std::uint32_t count);

// Little-endian fixed-width forms.
ResultCode SendU8(std::uint32_t value);
ResultCode SendU16(std::uint32_t value);
ResultCode SendU32(std::uint32_t value);
ResultCode ReceiveU8(std::uint8_t* value);
ResultCode ReceiveU16(std::uint16_t* value);
ResultCode ReceiveU32(std::uint32_t* value);

}  // namespace pq640
