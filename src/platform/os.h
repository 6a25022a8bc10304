// The library's only window onto the operating system.
//
// Portable code calls these functions and nothing else of the OS. Each platform
// implements them in a folder of its own (posix/, win32/) with the same file
// names in each; the unit tests link a scripted fake instead. Handles are plain
// integers so that no OS type leaks above this folder; the platform maps them
// to descriptors, SOCKETs or HANDLEs.
#pragma once

#include <cstdint>

namespace pq640::os {

using Socket = std::intptr_t;
inline constexpr Socket kInvalidSocket = -1;

using SerialHandle = std::intptr_t;
inline constexpr SerialHandle kInvalidSerialHandle = -1;

// ---- Socket layer (modelled on Windows Sockets: counted start-ups) --------

struct SocketLayerVersion {
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
};

// Adds one start-up; on success `granted` holds the version the layer offers.
// A failed start-up adds nothing.
bool SocketLayerStartup(SocketLayerVersion requested, SocketLayerVersion* granted);
// Removes one start-up. When none is left, every socket the layer made is closed
// and socket creation fails until the next start-up. Harmless when not started.
void SocketLayerCleanup();

// IPv4 stream socket; kInvalidSocket on failure (also while the layer is stopped).
Socket SocketCreate();
// Both directions. Failures are not reported: callers ignore them.
void SocketShutdown(Socket socket);
// Never touches a handle the layer has already closed on cleanup.
void SocketClose(Socket socket);
bool SocketSetBlocking(Socket socket, bool blocking);

enum class ConnectResult { kConnected, kInProgress, kFailed };
// `address` is in network byte order (first field in the lowest byte);
// `port` is in host byte order (the platform converts it).
ConnectResult SocketConnect(Socket socket, std::uint32_t address, std::uint16_t port);

enum class WaitResult { kReady, kTimedOut, kFailed };
// Ready only once a pending connect has completed and the connection stands.
WaitResult SocketWaitConnected(Socket socket, std::uint32_t timeout_ms);
WaitResult SocketWaitReadable(Socket socket, std::uint32_t timeout_ms);

// One piece of what a send call moves; the pieces go out in order.
struct SendSlice {
  const std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
};

// Sends every byte of the slices, resuming after partial sends and
// interruptions. Whenever the connection has no room it waits at most
// `wait_ms` for some; a wait that runs out ends the call. Returns the bytes
// sent (fewer than all after a wait ran out or the connection failed), or -1
// when it failed before sending any. Never raises a signal on a connection
// the peer has closed.
std::int64_t SocketSend(Socket socket, const SendSlice* slices, std::uint32_t slice_count,
                        std::uint32_t wait_ms);
// Waits at most `wait_ms` for bytes to arrive and takes up to `count` of
// them, in one call, so that a bulk read costs one system call per buffer
// where the bytes are already there. Returns the bytes received, 0 when the
// peer has closed, or one of the failures below.
inline constexpr std::int32_t kReceiveFailed = -1;
inline constexpr std::int32_t kReceiveTimedOut = -2;     // nothing arrived within the wait
inline constexpr std::int32_t kReceiveWaitFailed = -3;   // the socket could not be waited on
std::int32_t SocketReceive(Socket socket, std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t wait_ms);
void SocketSetReceiveBufferSize(Socket socket, std::uint32_t bytes);
// Segments leave as soon as they are sent instead of waiting for the peer's
// acknowledgement of the previous one. Failures are not reported.
void SocketSetNoDelay(Socket socket);

// ---- Serial ports (modelled on Windows' comm API) -------------------------

enum class Parity : std::uint8_t { kNone, kOdd, kEven, kMark, kSpace };
enum class StopBits : std::uint8_t { kOne, kOneAndHalf, kTwo };
enum class LineControl : std::uint8_t { kOff, kOn, kHandshake };

// The portable line settings; each platform maps the flags by their meaning.
struct LineSettings {
  std::uint32_t baud = 9600;
  std::uint8_t data_bits = 8;
  Parity parity = Parity::kNone;
  StopBits stop_bits = StopBits::kOne;
  bool binary = true;
  bool parity_check = false;
  bool cts_output_flow = false;
  bool dsr_output_flow = false;
  LineControl dtr = LineControl::kOn;
  bool dsr_sensitivity = false;
  bool tx_continue_on_xoff = true;
  bool xon_xoff_output = false;
  bool xon_xoff_input = false;
  bool error_char_replace = false;
  bool null_strip = false;
  LineControl rts = LineControl::kOn;
  bool abort_on_error = false;
};

// Windows read semantics: a read of n bytes ends when n bytes have arrived,
// when read_total_per_byte_ms * n + read_total_constant_ms has passed, or when,
// after the first byte, read_interval_ms passes without another byte.
// Writes end after write_total_per_byte_ms * n + write_total_constant_ms.
// A zero limit is no limit. Windows' special MAXDWORD forms are not part of the
// seam: the library never uses them.
struct SerialTimeouts {
  std::uint32_t read_interval_ms = 0;
  std::uint32_t read_total_per_byte_ms = 0;
  std::uint32_t read_total_constant_ms = 0;
  std::uint32_t write_total_per_byte_ms = 0;
  std::uint32_t write_total_constant_ms = 0;
};

// Read/write, exclusive, existing devices only. kInvalidSerialHandle on failure.
SerialHandle SerialOpen(const char* name);
bool SerialClose(SerialHandle port);
bool SerialGetLineSettings(SerialHandle port, LineSettings* settings);
bool SerialSetLineSettings(SerialHandle port, const LineSettings& settings);
bool SerialGetTimeouts(SerialHandle port, SerialTimeouts* timeouts);
bool SerialSetTimeouts(SerialHandle port, const SerialTimeouts& timeouts);
bool SerialSetQueueSizes(SerialHandle port, std::uint32_t input_bytes, std::uint32_t output_bytes);
bool SerialDiscardInput(SerialHandle port);
// Both report the bytes moved in `done`; false only when the call itself failed.
bool SerialRead(SerialHandle port, std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done);
bool SerialWrite(SerialHandle port, const std::uint8_t* data, std::uint32_t count, std::uint32_t* done);

// ---- Time -----------------------------------------------------------------

void SleepMs(std::uint32_t ms);
// Milliseconds from an arbitrary start; never goes backwards.
std::uint64_t MonotonicMs();

// ---- Process ----------------------------------------------------------------

// The calling process's ID: a process forked from the one that opened the
// port shares its socket and serial descriptor and must leave them alone.
std::uint32_t CurrentProcessId();

// Makes the platform call `handler` when the library leaves the process: when
// the host unloads it, and (POSIX) at exit, also in a static host. Registering
// again replaces the handler. The handler runs while the library's static
// objects are being destroyed, so it touches only trivially destructible state.
void CallAtUnload(void (*handler)());

}  // namespace pq640::os
