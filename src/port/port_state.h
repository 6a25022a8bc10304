// The one process-wide record of the port. Every layer reads and updates it;
// no other part of the library keeps connection state.
#pragma once

#include <cstdint>

#include "platform/os.h"
#include "pq640/pq640.h"

namespace pq640 {

using ResultCode = PQ640_ResultCode;

enum class LinkKind : std::uint8_t { kSerial = PQ640_LINK_SERIAL, kTcp = PQ640_LINK_TCP };

inline constexpr std::size_t kTerminalAddressSize = 50;

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
  std::uint32_t tcp_wait_ms = 0;
  bool checksum_enabled = false;
  std::uint8_t checksum = 0;
};

// Trivially destructible on purpose: the unload hook still reads it while the
// library's static objects are being destroyed.
PortState& Port();

// Back to the defaults of a freshly loaded library (tests use it between cases).
void ResetPortState();

}  // namespace pq640
