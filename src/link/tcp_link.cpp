#include "link/tcp_link.h"

#include <algorithm>

#include "link/answer_clock.h"
#include "link/link_backend.h"
#include "port/ipv4_address.h"

namespace pq640 {
namespace {

// Bytes read ahead belong to the connection they came from.
void EmptyReadAhead() {
  ReadAhead& ahead = Port().read_ahead;
  ahead.begin = 0;
  ahead.end = 0;
}

// Shuts down and closes the current connection, if any, so that no handle is
// ever forgotten (it would leak) or closed later (it may be the host's by then).
void DropConnection(bool pause_before_close) {
  PortState& state = Port();
  EmptyReadAhead();
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
  // A request leaves whole; its last segment must not wait for the
  // terminal's delayed acknowledgement of the one before.
  os::SocketSetNoDelay(socket);
  if (!os::SocketSetBlocking(socket, false)) return PQ640_TCP_FAILED;
  // The stored text was accepted by this parser (the default address parses
  // too); an address that does not parse is never connected to.
  std::uint32_t address = 0;
  if (!ParseTerminalAddress(state.terminal_address, &address)) return PQ640_READ_FAILED;
  bool connected = false;
  for (int attempt = 0; attempt < kConnectAttempts && !connected; ++attempt) {
    connected = ConnectAttempt(socket, address, state.tcp_port);
  }
  if (!connected) return PQ640_READ_FAILED;
  if (!os::SocketSetBlocking(socket, true)) return PQ640_TCP_FAILED;
  return PQ640_OK;
}

ResultCode TcpUsable() {
  return Port().tcp_socket == os::kInvalidSocket ? PQ640_NO_SOCKET : PQ640_OK;
}

ResultCode TcpSetReadWait(std::uint32_t timeout_ms) {
  TcpSetWait(timeout_ms);
  return PQ640_OK;
}

// Everything goes, or the command ends: a send that fails, or that finds no
// room for the read wait (a terminal that stopped reading), is -14.
ResultCode TcpWrite(const os::SendSlice* slices, std::uint32_t slice_count) {
  std::int64_t total = 0;
  for (std::uint32_t i = 0; i < slice_count; ++i) total += slices[i].size;
  const PortState& state = Port();
  const std::int64_t sent = os::SocketSend(state.tcp_socket, slices, slice_count, state.tcp_wait_ms);
  return sent == total ? PQ640_OK : PQ640_SEND_FAILED;
}

// A wait that ran out: the terminal's silence (-12) when nothing of the
// answer had come, or the answer's deadline (-100) once it had started and
// the deadline was what ended the wait.
ResultCode WaitRanOut(bool tightened) {
  return tightened && Port().answer.received > 0 ? PQ640_READ_FAILED : PQ640_TCP_FAILED;
}

// Waits at most tcp_wait_ms (less near the answer's deadline) for the next
// bytes without taking any.
ResultCode WaitForData() {
  const PortState& state = Port();
  bool tightened = false;
  const std::uint32_t wait_ms = BoundedWaitMs(state.tcp_wait_ms, &tightened);
  if (wait_ms == 0) return WaitRanOut(tightened);
  return os::SocketWaitReadable(state.tcp_socket, wait_ms) == os::WaitResult::kReady
             ? PQ640_OK
             : WaitRanOut(tightened);
}

// The wait is the receive's own: where the bytes are already there, taking
// them is one system call.
ResultCode FillReadAhead() {
  PortState& state = Port();
  bool tightened = false;
  const std::uint32_t wait_ms = BoundedWaitMs(state.tcp_wait_ms, &tightened);
  if (wait_ms == 0) return WaitRanOut(tightened);
  const std::int32_t got =
      os::SocketReceive(state.tcp_socket, state.read_ahead.bytes, kReadAheadBytes, wait_ms);
  if (got == os::kReceiveTimedOut) return WaitRanOut(tightened);
  if (got == os::kReceiveWaitFailed) return PQ640_TCP_FAILED;
  if (got <= 0) return PQ640_READ_FAILED;
  state.read_ahead.begin = 0;
  state.read_ahead.end = static_cast<std::uint32_t>(got);
  return PQ640_OK;
}

// Served from the read-ahead; the socket is asked only when it is empty, and
// every wait is bounded, so a terminal stalling mid-payload cannot hold the
// caller. A read of nothing succeeds once the wait does.
ResultCode TcpRead(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* arrived) {
  ReadAhead& ahead = Port().read_ahead;
  if (count == 0 && ahead.begin == ahead.end) return WaitForData();
  while (*arrived < count) {
    if (ahead.begin == ahead.end) {
      if (const ResultCode r = FillReadAhead(); r != PQ640_OK) return r;
    }
    const std::uint32_t n = std::min(ahead.end - ahead.begin, count - *arrived);
    std::copy_n(ahead.bytes + ahead.begin, n, buffer + *arrived);
    ahead.begin += n;
    *arrived += n;
  }
  return PQ640_OK;
}

std::uint32_t TcpAnswerFloor() { return kTcpFloorBytesPerSecond; }

void TcpAbandonAnswer() { DropConnection(false); }

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

const LinkBackend kTcpBackend = {
    .open = &TcpOpen,
    .close = &TcpClose,
    .set_read_wait = &TcpSetReadWait,
    .prepare_request = &TcpConnect,
    .usable = &TcpUsable,
    .write = &TcpWrite,
    .read = &TcpRead,
    .answer_floor = &TcpAnswerFloor,
    .abandon_answer = &TcpAbandonAnswer,
};

}  // namespace pq640
