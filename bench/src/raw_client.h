// The yardstick: what a plain socket program needs to move the same bytes over
// a connection set up as the library sets up its own.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "stopwatch.h"
#include "wire_frames.h"

namespace pq640bench {

// Connects to `address`:`port` with a 1024-byte receive buffer set before the
// connect, sends `request` in one call, and reads exactly `response.size()`
// bytes into `response` with large receive calls. Returns the time from
// before the socket was created to the last byte read (closing comes after),
// or nothing on any failure.
std::optional<Elapsed> RawExchange(const std::string& address, std::uint16_t port,
                                  const Bytes& request, std::span<std::uint8_t> response);

// The least a client must do to send records from where a caller holds them:
// `head` (preamble to the record count) and then `record_bytes` of each slot
// of `records` (`slot_size` apart), each straight from the slot, the XOR
// checksum computed over them, all in one vectored send; the response is read
// as RawExchange reads it. At most 1022 records.
std::optional<Elapsed> RawEncoderExchange(const std::string& address, std::uint16_t port,
                                         std::span<const std::uint8_t> head, const void* records,
                                         std::size_t count, std::size_t slot_size,
                                         std::size_t record_bytes, std::span<std::uint8_t> response);

}  // namespace pq640bench
