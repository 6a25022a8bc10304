// Moves exact byte counts over the selected link and keeps the running XOR
// checksum of the frame. Every byte between library and terminal passes here.
#pragma once

#include <cstdint>

#include "port/port_state.h"

namespace pq640 {

ResultCode SendBytes(const std::uint8_t* data, std::uint32_t count);
// The pieces in order, as one send: what a record whose fields lie apart in
// the caller's memory costs, one look at the link rather than one per field.
ResultCode SendPieces(const os::SendSlice* pieces, std::uint32_t count);
ResultCode ReceiveBytes(std::uint8_t* buffer, std::uint32_t count);

// Little-endian fixed-width forms.
ResultCode SendU8(std::uint32_t value);
ResultCode SendU16(std::uint32_t value);
ResultCode SendU32(std::uint32_t value);
ResultCode ReceiveU8(std::uint8_t* value);
ResultCode ReceiveU16(std::uint16_t* value);
ResultCode ReceiveU32(std::uint32_t* value);

// While gathering, sends collect in a fixed buffer and go out when it is full
// or at the flush, so a request frame leaves in as few writes as possible. A
// link failure of a gathered send shows at the write that carries it.
void BeginGathering();
ResultCode FlushGathered();
// Forgets gathered bytes that an aborted request never sent.
void DiscardGathered();

}  // namespace pq640
