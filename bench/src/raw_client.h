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

}  // namespace pq640bench
