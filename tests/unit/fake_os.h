// A scripted stand-in for the OS seam, linked into the unit tests instead of
// a platform file. Time is virtual: it moves only when the code sleeps or a
// wait or read runs into its time-out, so time-outs are exact and instant.
// Every byte the library sends is recorded; every byte it receives comes from
// a script the test wrote; every operation can be made to fail.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/os.h"

namespace pq640::fake {

using Bytes = std::vector<std::uint8_t>;

// A piece of input that becomes available `delay_ms` after the reader first
// waits for it.
struct Chunk {
  Bytes bytes;
  std::uint32_t delay_ms = 0;
};

// What a connection does once its scripted input is used up.
enum class InputEnd {
  kSilence,       // nothing more arrives: waits and reads run into their time-outs
  kPeerClose,     // the terminal closes the connection: receive returns 0
  kReceiveError,  // receive fails
  kWaitError,     // the readiness wait itself fails
};

enum class ConnectOutcome {
  kConnected,            // connect succeeds at once
  kRefused,              // connect fails at once
  kInProgressConnected,  // pending, then the wait reports the connection made
  kInProgressTimeout,    // pending, then the 5 s wait runs out
  kInProgressFailed,     // pending, then the wait reports a failed connect
};

// The behaviour of the next socket the library creates.
struct SocketScript {
  std::vector<ConnectOutcome> attempts = {ConnectOutcome::kConnected};
  std::deque<Chunk> input;
  InputEnd end = InputEnd::kSilence;
  bool fail_set_nonblocking = false;
  bool fail_set_blocking = false;
  bool fail_send = false;
  std::uint32_t short_send_by = 0;  // send reports this many bytes fewer
};

struct FakeSocket {
  os::Socket handle = os::kInvalidSocket;
  SocketScript script;
  std::size_t attempt = 0;
  bool blocking = true;
  bool shut_down = false;
  bool closed = false;
  std::uint32_t receive_buffer_size = 0;
  bool no_delay = false;
  std::uint32_t connected_address = 0;
  std::uint16_t connected_port = 0;
  Bytes sent;
  std::uint64_t head_ready_at = 0;
  bool head_timed = false;
};

struct SocketLayer {
  int startups = 0;
  bool fail_startup = false;
  os::SocketLayerVersion granted{2, 2};
  bool fail_create = false;
  std::deque<SocketScript> scripts;  // consumed by each SocketCreate; default script when empty
  std::vector<FakeSocket> sockets;   // every socket ever created, in order
};

struct FakeSerialPort {
  std::string name;
  os::SerialHandle handle = os::kInvalidSerialHandle;
  bool open = false;
  os::LineSettings settings;
  os::SerialTimeouts timeouts;
  std::vector<std::uint32_t> applied_bauds;  // every baud rate applied, in order
  std::uint32_t queue_in = 0;
  std::uint32_t queue_out = 0;
  int discards = 0;
  Bytes written;
  std::deque<Chunk> input;
  std::uint64_t head_ready_at = 0;
  bool head_timed = false;
};

struct SerialDevices {
  bool fail_open = false;
  bool fail_close = false;
  bool fail_get_line_settings = false;
  bool fail_set_line_settings = false;
  bool fail_get_timeouts = false;
  bool fail_set_timeouts = false;
  bool fail_read = false;
  // Replies released into the open port's input by each discard, i.e. the
  // terminal's answer to the request that follows it.
  std::deque<std::deque<Chunk>> replies;
  std::vector<FakeSerialPort> ports;  // every port ever opened, in order
};

// One OS call made to fail, picked by its position among all calls logged:
// how it fails depends on what the call can do (see each seam function).
enum class Injected {
  kNone,
  kFailure,    // the call reports failure
  kTimeout,    // a wait or read runs out its time without anything arriving
  kShort,      // a transfer moves fewer bytes than asked (at least one for a read)
  kPeerClose,  // a receive sees the terminal close the connection
};

struct Injection {
  std::size_t call_index = static_cast<std::size_t>(-1);
  Injected how = Injected::kNone;
};

struct FakeOs {
  std::uint64_t now_ms = 1'000'000;
  std::uint32_t process_id = 4242;
  void (*unload_handler)() = nullptr;  // registered, never run by the fake
  Injection inject;
  std::vector<std::string> calls;  // "Name(args)" of every seam call, in order
  SocketLayer net;
  SerialDevices serial;
};

FakeOs& Os();
void Reset();

// Conveniences for scripting and inspecting.
FakeSocket& LastSocket();
FakeSerialPort& LastSerialPort();
// The bytes written on all sockets, in creation order.
Bytes AllSent();
// Whether any call's name starts with `prefix`.
bool Called(const std::string& prefix);
int CountCalls(const std::string& prefix);
// Sockets created and not closed, and serial ports open.
int OpenSockets();
int OpenSerialPorts();

}  // namespace pq640::fake
