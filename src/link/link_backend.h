// One small backend per link kind. The byte channel, the framing and the
// port's open and close reach the serial line or the TCP connection only
// through the backend of the selected link, chosen in one place.
#pragma once

#include <cstdint>

#include "port/port_state.h"

namespace pq640 {

struct LinkBackend {
  ResultCode (*open)();
  ResultCode (*close)();
  // The command's read time-out: the serial port's read time-out, or the
  // wait for the first bytes of each TCP read.
  ResultCode (*set_read_wait)(std::uint32_t timeout_ms);
  // Readies the link for a new request: a fresh TCP connection, or serial
  // queue sizes and no stale input.
  ResultCode (*prepare_request)();
  // -4 or -13 when the link has nothing to move bytes over.
  ResultCode (*usable)();
  // Moves the slices' bytes, in order, on a usable link.
  ResultCode (*write)(const os::SendSlice* slices, std::uint32_t slice_count);
  // Reports the bytes that arrived in `arrived`; returns a failure code only
  // when the link failed, not for a short read.
  ResultCode (*read)(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* arrived);
  // The lowest rate, in bytes a second, at which an answer may go on arriving.
  std::uint32_t (*answer_floor)();
  // Stops taking the current answer; the next request starts clean.
  void (*abandon_answer)();
};

extern const LinkBackend kSerialBackend;
extern const LinkBackend kTcpBackend;

// The backend of the link PortState.link_kind selects.
const LinkBackend& ActiveLink();

}  // namespace pq640
