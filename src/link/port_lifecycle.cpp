// Opening and closing the port run the part of the link that is selected.
#include "link/port_lifecycle.h"

#include "link/link_backend.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"

namespace pq640 {

void ClosePortsAtUnload() {
  PortState& state = Port();
  if (state.opener_process == 0 || state.opener_process != os::CurrentProcessId()) return;
  state.opener_process = 0;  // once is enough
  if (state.serial_handle != os::kInvalidSerialHandle) {
    (void)os::SerialClose(state.serial_handle);
    state.serial_handle = os::kInvalidSerialHandle;
  }
  if (state.tcp_socket != os::kInvalidSocket) {
    os::SocketClose(state.tcp_socket);
    state.tcp_socket = os::kInvalidSocket;
  }
}

}  // namespace pq640

using namespace pq640;

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_OpenPort(void) {
  Port().opener_process = os::CurrentProcessId();
  os::CallAtUnload(&ClosePortsAtUnload);
  return ActiveLink().open();
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_ClosePort(void) { return ActiveLink().close(); }
