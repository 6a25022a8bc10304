#include "link/tcp_link.h"

namespace pq640 {
namespace {

// Shuts down and closes the current connection, if any, so that no handle is
// ever forgotten (it would leak) or closed later (it may be the host's by then).
void DropConnection(bool pause_before_close) {
  PortState& state = Port();
  if (state.tcp_socket == os::kInvalidSocket) return;
  os::SocketShutdown(state.tcp_socket);
  // Lets the terminal see the orderly shutdown before the socket goes away.
  if (pause_before_close) os::SleepMs(kReconnectPauseMs);
  os::SocketClose(state.tcp_socket);
  state.tcp_socket = os::kInvalidSocket;
}

bool ConnectAttempt(os::Socket socket, std::uint32_t address, std::uint16_t port) {
  switch (os::SocketConnect(socket, address, port)) {
    case os::ConnectResult::kConnected:
      return true;
    case os::ConnectResult::kInProgress:
      return os::SocketWaitConnected(socket, kConnectWaitMs) == os::WaitResult::kReady;
    case os::ConnectResult::kFailed:
      break;
  }
  return false;
}

// Connects `socket` and makes it a blocking connection ready for the byte channel.
ResultCode EstablishConnection(os::Socket socket) {
  const PortState& state = Port();
  // Before the handshake: the window scale is agreed then, and a buffer shrunk
  // afterwards leaves the terminal's sender stalling on a window it believes
  // large, so a bulk read would crawl. The result is not checked.
  os::SocketSetReceiveBufferSize(socket, kReceiveBufferBytes);
  if (!os::SocketSetBlocking(socket, false)) return PQ640_TCP_FAILED;
  const std::uint32_t address = os::ParseIPv4Address(state.terminal_address);
  bool connected = false;
  for (int attempt = 0; attempt < kConnectAttempts && !connected; ++attempt) {
    connected = ConnectAttempt(socket, address, state.tcp_port);
  }
  if (!connected) return PQ640_READ_FAILED;
  if (!os::SocketSetBlocking(socket, true)) return PQ640_TCP_FAILED;
  return PQ640_OK;
}

}  // namespace

ResultCode TcpOpen() {
  DropConnection(false);
  os::SocketLayerVersion granted;
  if (!os::SocketLayerStartup(kSocketLayerVersion, &granted)) return PQ640_TCP_FAILED;
  // The layer stays started on a version mismatch; the host's close balances it.
  if (granted.major != kSocketLayerVersion.major || granted.minor != kSocketLayerVersion.minor) {
    return PQ640_TCP_FAILED;
  }
  return PQ640_OK;
}

ResultCode TcpClose() {
  DropConnection(false);
  os::SocketLayerCleanup();
  return PQ640_OK;
}

ResultCode TcpConnect() {
  DropConnection(true);
  const os::Socket socket = os::SocketCreate();
  if (socket == os::kInvalidSocket) return PQ640_SOCKET_FAILED;
  const ResultCode result = EstablishConnection(socket);
  if (result != PQ640_OK) {
    // A socket that never became the connection is closed at once.
    os::SocketClose(socket);
    return result;
  }
  Port().tcp_socket = socket;
  return PQ640_OK;
}

void TcpSetWait(std::uint32_t timeout_ms) { Port().tcp_wait_ms = timeout_ms + kTcpWaitExtraMs; }

}  // namespace pq640
