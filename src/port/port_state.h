// The one process-wide record of the port. Every layer reads and updates it;
// no other part of the library keeps connection state.
#pragma once

#include <cstdint>

#include "platform/os.h"
#include "pq640/pq640.h"

namespace pq640 {

using ResultCode = PQ640_ResultCode;

enum class LinkKind : std::uint8_t { kSerial = PQ640_LINK_SERIAL, kTcp = PQ640_LINK_TCP };

inline constexpr std::size_t kTerminalAddressSize = 50;  // NUL included
inline constexpr std::uint16_t kMaxTerminalId = 255;
// A command's read wait is its read time-out plus this much.
inline constexpr std::uint32_t kReadWaitExtraMs = 1000;

// Bytes received over TCP ahead of what the caller asked for, so that a record
// read field by field costs no system call per field. Emptied whenever a
// connection is made or dropped.
inline constexpr std::uint32_t kReadAheadBytes = 4096;
struct ReadAhead {
  std::uint8_t bytes[kReadAheadBytes];
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};

// A request frame gathered while it is built, so that it leaves in as few
// writes as possible: flushed when full and before the response is read.
// Short fields are copied into `bytes`; a field of kDirectSendBytes or more
// (templates, ID lists, the settings block) is sent from where the caller
// holds it, which stays valid until the command returns.
inline constexpr std::uint32_t kSendGatherBytes = 2048;
inline constexpr std::uint32_t kSendGatherSlices = 384;
inline constexpr std::uint32_t kDirectSendBytes = 256;
struct SendGather {
  std::uint8_t bytes[kSendGatherBytes];
  os::SendSlice slices[kSendGatherSlices];
  std::uint32_t size = 0;
  std::uint32_t slice_count = 0;
  bool active = false;
};

// One deadline for a whole answer, so that a terminal cannot hold a call by
// sending just fast enough to beat each read's own time-out. Once the request
// is out, the answer may take the command's read wait plus the time its bytes
// would take at a floor rate far below any working link; time spent in the
// host's progress callback is not the terminal's. Bytes before the start byte
// earn nothing, so the start-byte search gets the read wait alone.
inline constexpr std::uint32_t kTcpFloorBytesPerSecond = 1024;
// An eighth of the serial line's byte rate (ten bits a byte on the line).
inline constexpr std::uint32_t kSerialFloorDivisor = 10 * 8;
struct AnswerClock {
  std::uint64_t started_ms = 0;
  std::uint64_t callback_ms = 0;       // spent in the host's callback since the start
  std::uint64_t received = 0;          // bytes taken since the request went out
  std::uint64_t credited_from = 0;     // `received` at the start byte; none before it
  bool crediting = false;
  bool running = false;                // between a request going out and the next request
  std::uint32_t floor_bytes_per_second = kTcpFloorBytesPerSecond;
};

struct PortState {
  LinkKind link_kind = LinkKind::kSerial;
  // 0 means no serial port is configured (after a failed open or a close).
  std::uint32_t serial_port = 1;
  std::uint16_t comm_state = 2;
  std::uint16_t terminal_id = 0;
  char terminal_address[kTerminalAddressSize] = PQ640_DEFAULT_TERMINAL_ADDRESS;
  std::uint16_t tcp_port = PQ640_TCP_PORT;
  os::SerialHandle serial_handle = os::kInvalidSerialHandle;
  os::Socket tcp_socket = os::kInvalidSocket;
  // The process that last opened the port; 0 before the first open. The
  // unload hook acts only there: a forked child shares the descriptors.
  std::uint32_t opener_process = 0;
  std::uint32_t tcp_wait_ms = 0;
  // The current command's read wait on either link: how long the search for
  // the response's start byte may take once the request has gone out.
  std::uint32_t response_wait_ms = 0;
  AnswerClock answer;
  // Serial: the command's time-outs, and whether a read left them tightened
  // to what remained of the answer's deadline.
  os::SerialTimeouts serial_timeouts;
  bool serial_timeouts_tightened = false;
  bool checksum_enabled = false;
  std::uint8_t checksum = 0;
  ReadAhead read_ahead;
  SendGather send_gather;
};

// Trivially destructible on purpose: the unload hook still reads it while the
// library's static objects are being destroyed.
PortState& Port();

// Back to the defaults of a freshly loaded library (tests use it between cases).
void ResetPortState();

}  // namespace pq640
