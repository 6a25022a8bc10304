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
  if (state.serial_handle != os::kInvalidSerialHandle) (void)SerialClose();
  // The TCP side as the host's own close would run it when TCP is selected;
  // otherwise only a connection still standing needs it.
  if (state.link_kind == LinkKind::kTcp || state.tcp_socket != os::kInvalidSocket) {
    (void)TcpClose();
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
