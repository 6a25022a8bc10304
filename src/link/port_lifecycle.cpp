// Opening and closing the port run the part of the link that is selected.
#include "link/serial_link.h"
#include "link/tcp_link.h"

using namespace pq640;

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_OpenPort(void) {
  return Port().link_kind == LinkKind::kTcp ? TcpOpen() : SerialOpen();
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_ClosePort(void) {
  return Port().link_kind == LinkKind::kTcp ? TcpClose() : SerialClose();
}
