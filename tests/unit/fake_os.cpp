#include "fake_os.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace pq640::fake {
namespace {

constexpr os::Socket kFirstSocket = 100;
constexpr os::SerialHandle kFirstSerialHandle = 500;

FakeOs g_os;

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
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

// When the head chunk of `input` becomes available, fixing its arrival time
// the first time a reader looks at it.
template <typename Endpoint>
std::uint64_t HeadReadyAt(Endpoint& endpoint, std::deque<Chunk>& input) {
  if (!endpoint.head_timed) {
    endpoint.head_ready_at = g_os.now_ms + input.front().delay_ms;
    endpoint.head_timed = true;
  }
  return endpoint.head_ready_at;
}

// Takes up to `count` bytes of the head chunk.
template <typename Endpoint>
std::uint32_t TakeFromHead(Endpoint& endpoint, std::deque<Chunk>& input, std::uint8_t* buffer,
                           std::uint32_t count) {
  Chunk& head = input.front();
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, head.bytes.size()));
  std::copy_n(head.bytes.begin(), n, buffer);
  head.bytes.erase(head.bytes.begin(), head.bytes.begin() + n);
  if (head.bytes.empty()) {
    input.pop_front();
    endpoint.head_timed = false;
  }
  return n;
}

// How the call just logged is to fail, if it is the one picked.
Injected InjectedHere() {
  if (g_os.inject.how == Injected::kNone || g_os.calls.size() != g_os.inject.call_index + 1) {
    return Injected::kNone;
  }
  return g_os.inject.how;
}

bool Fails() { return InjectedHere() == Injected::kFailure; }

}  // namespace

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

// ---- The seam, as the library sees it ------------------------------------

namespace pq640::os {

using fake::Fails;
using fake::g_os;
using fake::Injected;
using fake::InjectedHere;
using fake::Log;

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
  socket.handle = fake::kFirstSocket + static_cast<Socket>(g_os.net.sockets.size());
  if (!g_os.net.scripts.empty()) {
    socket.script = std::move(g_os.net.scripts.front());
    g_os.net.scripts.pop_front();
  }
  g_os.net.sockets.push_back(std::move(socket));
  return g_os.net.sockets.back().handle;
}

void SocketShutdown(Socket socket) {
  Log("SocketShutdown(%ld)", static_cast<long>(socket));
  if (fake::FakeSocket* s = fake::FindSocket(socket)) s->shut_down = true;
}

void SocketClose(Socket socket) {
  Log("SocketClose(%ld)", static_cast<long>(socket));
  if (fake::FakeSocket* s = fake::FindSocket(socket)) s->closed = true;
}

bool SocketSetBlocking(Socket socket, bool blocking) {
  Log("SocketSetBlocking(%ld,%d)", static_cast<long>(socket), blocking ? 1 : 0);
  fake::FakeSocket* s = fake::FindSocket(socket);
  if (s == nullptr || Fails()) return false;
  if (blocking ? s->script.fail_set_blocking : s->script.fail_set_nonblocking) return false;
  s->blocking = blocking;
  return true;
}

ConnectResult SocketConnect(Socket socket, std::uint32_t address, std::uint16_t port) {
  Log("SocketConnect(%ld,%08x,%u)", static_cast<long>(socket), address, port);
  fake::FakeSocket* s = fake::FindSocket(socket);
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
  fake::FakeSocket* s = fake::FindSocket(socket);
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
  fake::FakeSocket* s = fake::FindSocket(socket);
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
  const std::uint64_t ready_at = fake::HeadReadyAt(*s, s->script.input);
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
  fake::FakeSocket* s = fake::FindSocket(socket);
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
  fake::FakeSocket* s = fake::FindSocket(socket);
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
  const std::uint64_t ready_at = fake::HeadReadyAt(*s, s->script.input);
  if (ready_at > g_os.now_ms + wait_ms) {
    g_os.now_ms += wait_ms;
    return kReceiveTimedOut;
  }
  g_os.now_ms = std::max(g_os.now_ms, ready_at);
  return static_cast<std::int32_t>(fake::TakeFromHead(*s, s->script.input, buffer, count));
}

void SocketSetReceiveBufferSize(Socket socket, std::uint32_t bytes) {
  Log("SocketSetReceiveBufferSize(%ld,%u)", static_cast<long>(socket), bytes);
  if (fake::FakeSocket* s = fake::FindSocket(socket)) s->receive_buffer_size = bytes;
}

void SocketSetNoDelay(Socket socket) {
  Log("SocketSetNoDelay(%ld)", static_cast<long>(socket));
  if (fake::FakeSocket* s = fake::FindSocket(socket)) s->no_delay = true;
}

SerialHandle SerialOpen(const char* name) {
  Log("SerialOpen(%s)", name);
  if (g_os.serial.fail_open || Fails() || std::strncmp(name, "COM", 3) != 0 || std::strcmp(name, "COM0") == 0) {
    return kInvalidSerialHandle;
  }
  for (const fake::FakeSerialPort& p : g_os.serial.ports) {
    if (p.open && p.name == name) return kInvalidSerialHandle;  // exclusive
  }
  fake::FakeSerialPort port;
  port.name = name;
  port.handle = fake::kFirstSerialHandle + static_cast<SerialHandle>(g_os.serial.ports.size());
  port.open = true;
  // What a port reports before it is configured: unlike the library's settings.
  port.settings.baud = 1200;
  port.settings.parity = Parity::kEven;
  port.settings.stop_bits = StopBits::kTwo;
  port.settings.xon_xoff_input = true;
  port.settings.null_strip = true;
  g_os.serial.ports.push_back(std::move(port));
  return g_os.serial.ports.back().handle;
}

bool SerialClose(SerialHandle handle) {
  Log("SerialClose(%ld)", static_cast<long>(handle));
  fake::FakeSerialPort* p = fake::FindPort(handle);
  if (p == nullptr || g_os.serial.fail_close || Fails()) return false;
  p->open = false;
  return true;
}

bool SerialGetLineSettings(SerialHandle handle, LineSettings* settings) {
  Log("SerialGetLineSettings(%ld)", static_cast<long>(handle));
  fake::FakeSerialPort* p = fake::FindPort(handle);
  if (p == nullptr || g_os.serial.fail_get_line_settings || Fails()) return false;
  *settings = p->settings;
  return true;
}

bool SerialSetLineSettings(SerialHandle handle, const LineSettings& settings) {
  Log("SerialSetLineSettings(%ld,%u)", static_cast<long>(handle), settings.baud);
  fake::FakeSerialPort* p = fake::FindPort(handle);
  if (p == nullptr || g_os.serial.fail_set_line_settings || Fails()) return false;
  p->settings = settings;
  p->applied_bauds.push_back(settings.baud);
  return true;
}

bool SerialGetTimeouts(SerialHandle handle, SerialTimeouts* timeouts) {
  Log("SerialGetTimeouts(%ld)", static_cast<long>(handle));
  fake::FakeSerialPort* p = fake::FindPort(handle);
  if (p == nullptr || g_os.serial.fail_get_timeouts || Fails()) return false;
  *timeouts = p->timeouts;
  return true;
}

bool SerialSetTimeouts(SerialHandle handle, const SerialTimeouts& timeouts) {
  Log("SerialSetTimeouts(%ld,%u)", static_cast<long>(handle), timeouts.read_total_constant_ms);
  fake::FakeSerialPort* p = fake::FindPort(handle);
  if (p == nullptr || g_os.serial.fail_set_timeouts || Fails()) return false;
  p->timeouts = timeouts;
  return true;
}

bool SerialSetQueueSizes(SerialHandle handle, std::uint32_t input_bytes, std::uint32_t output_bytes) {
  Log("SerialSetQueueSizes(%ld,%u,%u)", static_cast<long>(handle), input_bytes, output_bytes);
  fake::FakeSerialPort* p = fake::FindPort(handle);
  if (p == nullptr || Fails()) return false;
  p->queue_in = input_bytes;
  p->queue_out = output_bytes;
  return true;
}

bool SerialDiscardInput(SerialHandle handle) {
  Log("SerialDiscardInput(%ld)", static_cast<long>(handle));
  fake::FakeSerialPort* p = fake::FindPort(handle);
  if (p == nullptr) return false;
  ++p->discards;
  p->input.clear();
  p->head_timed = false;
  if (!g_os.serial.replies.empty()) {
    p->input = std::move(g_os.serial.replies.front());
    g_os.serial.replies.pop_front();
  }
  // A failed discard still lets the terminal answer: only the report fails.
  return !Fails();
}

// Windows read semantics on the virtual clock: the read ends with n bytes, at
// the total limit, or when the interval limit passes after the first byte.
bool SerialRead(SerialHandle handle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
  Log("SerialRead(%ld,%u)", static_cast<long>(handle), count);
  *done = 0;
  fake::FakeSerialPort* p = fake::FindPort(handle);
  const Injected injected = InjectedHere();
  if (p == nullptr || g_os.serial.fail_read || injected == Injected::kFailure) return false;
  const SerialTimeouts& t = p->timeouts;
  if (injected == Injected::kTimeout) {
    g_os.now_ms += std::uint64_t{t.read_total_per_byte_ms} * count + t.read_total_constant_ms;
    return true;
  }
  // A short read: the bytes of the head that fit in half the count, then the gap.
  if (injected == Injected::kShort && count > 1) count = count / 2;
  const std::uint64_t total_deadline =
      g_os.now_ms + std::uint64_t{t.read_total_per_byte_ms} * count + t.read_total_constant_ms;
  std::uint64_t last_byte_at = 0;
  while (*done < count) {
    std::uint64_t deadline = total_deadline;
    if (*done > 0) deadline = std::min(deadline, last_byte_at + t.read_interval_ms);
    if (p->input.empty() || fake::HeadReadyAt(*p, p->input) > deadline) {
      g_os.now_ms = std::max(g_os.now_ms, deadline);
      break;
    }
    g_os.now_ms = std::max(g_os.now_ms, fake::HeadReadyAt(*p, p->input));
    *done += fake::TakeFromHead(*p, p->input, buffer + *done, count - *done);
    last_byte_at = g_os.now_ms;
  }
  return true;
}

bool SerialWrite(SerialHandle handle, const std::uint8_t* data, std::uint32_t count, std::uint32_t* done) {
  Log("SerialWrite(%ld,%u)", static_cast<long>(handle), count);
  *done = 0;
  fake::FakeSerialPort* p = fake::FindPort(handle);
  const Injected injected = InjectedHere();
  if (p == nullptr || injected == Injected::kFailure) return false;
  if (injected == Injected::kShort) count /= 2;
  p->written.insert(p->written.end(), data, data + count);
  *done = count;
  return true;
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
