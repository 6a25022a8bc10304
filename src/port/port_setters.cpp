// The exported setters that fill the port state before the port is opened.
#include <cstring>

#include "port/comm_state.h"
#include "port/ipv4_address.h"
#include "port/port_state.h"

using namespace pq640;

namespace {

constexpr std::uint16_t kMaxSerialPort = 10;

}  // namespace

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_SetPortAndCommState(std::uint16_t kind,
                                                                     std::uint16_t port,
                                                                     std::uint32_t comm_state) {
  PortState& state = Port();
  if (kind == PQ640_LINK_TCP) {
    state.link_kind = LinkKind::kTcp;
    state.comm_state = static_cast<std::uint16_t>(comm_state);
    return PQ640_OK;
  }
  if (kind != PQ640_LINK_SERIAL || port < 1 || port > kMaxSerialPort ||
      !CommStateWithin(comm_state, 6, 4, 2)) {
    return PQ640_PORT_REFUSED;
  }
  state.link_kind = LinkKind::kSerial;
  state.serial_port = port;
  state.comm_state = static_cast<std::uint16_t>(comm_state);
  return PQ640_OK;
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_SetTerminalID(std::uint16_t id) {
  if (id > kMaxTerminalId) return PQ640_OUT_OF_RANGE;
  Port().terminal_id = id;
  return PQ640_OK;
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_SetTerminalIPAddr(const char* address) {
  std::uint32_t parsed = 0;
  if (address == nullptr || !ParseTerminalAddress(address, &parsed)) return PQ640_INVALID_ARGUMENT;
  // An accepted address is at most 15 characters: what is stored is exactly
  // what was checked.
  char* stored = Port().terminal_address;
  std::memset(stored, 0, kTerminalAddressSize);
  std::memcpy(stored, address, std::strlen(address));
  return PQ640_OK;
}
