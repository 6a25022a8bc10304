// The serial link: opening and closing the port with fixed line settings and
// time-outs, programming the local baud rate, and waking a sleeping terminal.
#pragma once

#include <cstdint>

#include "port/port_state.h"

namespace pq640 {

inline constexpr os::SerialTimeouts kSerialTimeoutsAtOpen{
    .read_interval_ms = 2000,
    .read_total_per_byte_ms = 100,
    .read_total_constant_ms = 10000,
    .write_total_per_byte_ms = 200,
    .write_total_constant_ms = 2000,
};
inline constexpr std::uint32_t kSerialQueueBytes = 1024;
inline constexpr std::uint32_t kWakeUpBaudCode = 2;
inline constexpr std::uint32_t kWakeUpByteCount = 2048;
inline constexpr std::uint32_t kWakeUpSleepMs = 3000;

// Baud rate of a baud code; codes 7 to 15 fall back to 9600.
std::uint32_t BaudRateOf(std::uint32_t baud_code);

ResultCode SerialOpen();
ResultCode SerialClose();
// Programs the local port from bits 0-3 of `code` and stores `code` as the
// line-setting word.
ResultCode ApplyBaudCode(std::uint32_t code);

}  // namespace pq640
