#include "fake_os.h"
#include "fake_os_internal.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace pq640::fake {
namespace internal {

FakeOs g_os;

void Log(const char* format, ...) {
  char line[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  g_os.calls.emplace_back(line);
}

FakeSocket* FindSocket(os::Socket handle) {
  for (FakeSocket& s : g_os.net.sockets) {
    if (s.handle == handle && !s.closed) return &s;
  }
  return nullptr;
}

FakeSerialPort* FindPort(os::SerialHandle handle) {
  for (FakeSerialPort& p : g_os.serial.ports) {
    if (p.handle == handle && p.open) return &p;
  }
  return nullptr;
}

Injected InjectedHere() {
  if (g_os.inject.how == Injected::kNone || g_os.calls.size() != g_os.inject.call_index + 1) {
    return Injected::kNone;
  }
  return g_os.inject.how;
}

bool Fails() { return InjectedHere() == Injected::kFailure; }

}  // namespace internal

using internal::g_os;

FakeOs& Os() { return g_os; }

int OpenSockets() {
  return static_cast<int>(std::count_if(g_os.net.sockets.begin(), g_os.net.sockets.end(),
                                        [](const FakeSocket& s) { return !s.closed; }));
}

int OpenSerialPorts() {
  return static_cast<int>(std::count_if(g_os.serial.ports.begin(), g_os.serial.ports.end(),
                                        [](const FakeSerialPort& p) { return p.open; }));
}
void Reset() { g_os = FakeOs{}; }

FakeSocket& LastSocket() { return g_os.net.sockets.back(); }
FakeSerialPort& LastSerialPort() { return g_os.serial.ports.back(); }

Bytes AllSent() {
  Bytes all;
  for (const FakeSocket& s : g_os.net.sockets) all.insert(all.end(), s.sent.begin(), s.sent.end());
  return all;
}

bool Called(const std::string& prefix) { return CountCalls(prefix) > 0; }

int CountCalls(const std::string& prefix) {
  return static_cast<int>(std::count_if(g_os.calls.begin(), g_os.calls.end(), [&](const std::string& c) {
    return c.rfind(prefix, 0) == 0;
  }));
}

}  // namespace pq640::fake

// ---- Sockets, clock and process, as the library sees them; serial ports
// are in fake_serial.cpp --------------------------------------------------

namespace pq640::os {

using fake::Injected;
using fake::internal::Fails;
using fake::internal::g_os;
using fake::internal::InjectedHere;
using fake::internal::Log;

bool SocketLayerStartup(SocketLayerVersion requested, SocketLayerVersion* granted) {
  Log("SocketLayerStartup(%u.%u)", requested.major, requested.minor);
  if (g_os.net.fail_startup || Fails()) return false;
  ++g_os.net.startups;
  *granted = g_os.net.granted;
  return true;
}

void SocketLayerCleanup() {
  Log("SocketLayerCleanup()");
  if (g_os.net.startups == 0) return;
  if (--g_os.net.startups == 0) {
    for (fake::FakeSocket& s : g_os.net.sockets) s.closed = true;
  }
}

Socket SocketCreate() {
  Log("SocketCreate()");
  if (g_os.net.startups == 0 || g_os.net.fail_create || Fails()) return kInvalidSocket;
  fake::FakeSocket socket;
  socket.handle = fake::internal::kFirstSocket + static_cast<Socket>(g_os.net.sockets.size());
  if (!g_os.net.scripts.empty()) {
    socket.script = std::move(g_os.net.scripts.front());
    g_os.net.scripts.pop_front();
  }
  g_os.net.sockets.push_back(std::move(socket));
  return g_os.net.sockets.back().handle;
}

void SocketShutdown(Socket socket) {
  Log("SocketShutdown(%ld)", static_cast<long>(socket));
  if (fake::FakeSocket* s = fake::internal::FindSocket(socket)) s->shut_down = true;
}

void SocketClose(Socket socket) {
  Log("SocketClose(%ld)", static_cast<long>(socket));
  if (fake::FakeSocket* s = fake::internal::FindSocket(socket)) s->closed = true;
}

bool SocketSetBlocking(Socket socket, bool blocking) {
  Log("SocketSetBlocking(%ld,%d)", static_cast<long>(socket), blocking ? 1 : 0);
  fake::FakeSocket* s = fake::internal::FindSocket(socket);
  if (s == nullptr || Fails()) return false;
  if (blocking ? s->script.fail_set_blocking : s->script.fail_set_nonblocking) return false;
  s->blocking = blocking;
  return true;
}

ConnectResult SocketConnect(Socket socket, std::uint32_t address, std::uint16_t port) {
  Log("SocketConnect(%ld,%08x,%u)", static_cast<long>(socket), address, port);
  fake::FakeSocket* s = fake::internal::FindSocket(socket);
  if (s == nullptr) return ConnectResult::kFailed;
  if (Fails()) {
    ++s->attempt;
    return ConnectResult::kFailed;
  }
  s->connected_address = address;
  s->connected_port = port;
  const auto& attempts = s->script.attempts;
  const fake::ConnectOutcome outcome =
      s->attempt < attempts.size() ? attempts[s->attempt] : fake::ConnectOutcome::kRefused;
  ++s->attempt;
  switch (outcome) {
    case fake::ConnectOutcome::kConnected:
      return ConnectResult::kConnected;
    case fake::ConnectOutcome::kRefused:
      return ConnectResult::kFailed;
    default:
      return ConnectResult::kInProgress;
  }
}

WaitResult SocketWaitConnected(Socket socket, std::uint32_t timeout_ms) {
  Log("SocketWaitConnected(%ld,%u)", static_cast<long>(socket), timeout_ms);
  fake::FakeSocket* s = fake::internal::FindSocket(socket);
  if (s == nullptr || s->attempt == 0) return WaitResult::kFailed;
  switch (InjectedHere()) {
    case Injected::kFailure: return WaitResult::kFailed;
    case Injected::kTimeout: g_os.now_ms += timeout_ms; return WaitResult::kTimedOut;
    default: break;
  }
  switch (s->script.attempts[s->attempt - 1]) {
    case fake::ConnectOutcome::kInProgressConnected:
      return WaitResult::kReady;
    case fake::ConnectOutcome::kInProgressTimeout:
      g_os.now_ms += timeout_ms;
      return WaitResult::kTimedOut;
    default:
      return WaitResult::kFailed;
  }
}

WaitResult SocketWaitReadable(Socket socket, std::uint32_t timeout_ms) {
  Log("SocketWaitReadable(%ld,%u)", static_cast<long>(socket), timeout_ms);
  fake::FakeSocket* s = fake::internal::FindSocket(socket);
  if (s == nullptr) return WaitResult::kFailed;
  switch (InjectedHere()) {
    case Injected::kFailure: return WaitResult::kFailed;
    case Injected::kTimeout: g_os.now_ms += timeout_ms; return WaitResult::kTimedOut;
    default: break;
  }
  if (s->script.input.empty()) {
    switch (s->script.end) {
      case fake::InputEnd::kSilence:
        g_os.now_ms += timeout_ms;
        return WaitResult::kTimedOut;
      case fake::InputEnd::kWaitError:
        return WaitResult::kFailed;
      default:
        return WaitResult::kReady;  // the receive reports the close or the error
    }
  }
  const std::uint64_t ready_at = fake::internal::HeadReadyAt(*s, s->script.input);
  if (ready_at > g_os.now_ms + timeout_ms) {
    g_os.now_ms += timeout_ms;
    return WaitResult::kTimedOut;
  }
  g_os.now_ms = std::max(g_os.now_ms, ready_at);
  return WaitResult::kReady;
}

std::int64_t SocketSend(Socket socket, const SendSlice* slices, std::uint32_t slice_count,
                        std::uint32_t wait_ms) {
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; i < slice_count; ++i) count += slices[i].size;
  Log("SocketSend(%ld,%u)", static_cast<long>(socket), count);
  fake::FakeSocket* s = fake::internal::FindSocket(socket);
  const Injected injected = InjectedHere();
  if (s == nullptr || s->script.fail_send || injected == Injected::kFailure) return -1;
  std::uint32_t sent = count - std::min(count, s->script.short_send_by);
  if (injected == Injected::kShort) sent = count / 2;
  // A terminal that stopped reading: half goes out, then the wait runs out.
  if (injected == Injected::kTimeout) {
    sent = count / 2;
    g_os.now_ms += wait_ms;
  }
  std::uint32_t left = sent;
  for (std::uint32_t i = 0; i < slice_count && left > 0; ++i) {
    const std::uint32_t n = std::min(left, slices[i].size);
    s->sent.insert(s->sent.end(), slices[i].data, slices[i].data + n);
    left -= n;
  }
  return sent;
}

std::int32_t SocketReceive(Socket socket, std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t wait_ms) {
  Log("SocketReceive(%ld,%u,%u)", static_cast<long>(socket), count, wait_ms);
  fake::FakeSocket* s = fake::internal::FindSocket(socket);
  if (s == nullptr) return kReceiveWaitFailed;
  switch (InjectedHere()) {
    case Injected::kFailure: return kReceiveFailed;
    case Injected::kPeerClose: return 0;
    case Injected::kTimeout: g_os.now_ms += wait_ms; return kReceiveTimedOut;
    case Injected::kShort: count = std::min<std::uint32_t>(count, 1); break;
    default: break;
  }
  if (s->script.input.empty()) {
    switch (s->script.end) {
      case fake::InputEnd::kSilence: g_os.now_ms += wait_ms; return kReceiveTimedOut;
      case fake::InputEnd::kWaitError: return kReceiveWaitFailed;
      case fake::InputEnd::kPeerClose: return 0;
      default: return kReceiveFailed;
    }
  }
  const std::uint64_t ready_at = fake::internal::HeadReadyAt(*s, s->script.input);
  if (ready_at > g_os.now_ms + wait_ms) {
    g_os.now_ms += wait_ms;
    return kReceiveTimedOut;
  }
  g_os.now_ms = std::max(g_os.now_ms, ready_at);
  return static_cast<std::int32_t>(fake::internal::TakeFromHead(*s, s->script.input, buffer, count));
}

void SocketSetReceiveBufferSize(Socket socket, std::uint32_t bytes) {
  Log("SocketSetReceiveBufferSize(%ld,%u)", static_cast<long>(socket), bytes);
  if (fake::FakeSocket* s = fake::internal::FindSocket(socket)) s->receive_buffer_size = bytes;
}

void SocketSetNoDelay(Socket socket) {
  Log("SocketSetNoDelay(%ld)", static_cast<long>(socket));
  if (fake::FakeSocket* s = fake::internal::FindSocket(socket)) s->no_delay = true;
}

void SleepMs(std::uint32_t ms) {
  Log("SleepMs(%u)", ms);
  g_os.now_ms += ms;
}

std::uint64_t MonotonicMs() { return g_os.now_ms; }

std::uint32_t CurrentProcessId() { return g_os.process_id; }

// Kept for the tests to run: the unit tests' own exit must not call into a
// fake that is being torn down.
void CallAtUnload(void (*handler)()) { g_os.unload_handler = handler; }

}  // namespace pq640::os
