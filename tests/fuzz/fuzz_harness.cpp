#include "fuzz_harness.h"

#include <cstdio>
#include <cstdlib>

#include "fake_os.h"
#include "port/port_state.h"

namespace pq640::fuzz {
namespace {

bool g_final_equal_allowed = false;

bool IsDocumentedCode(PQ640_ResultCode code) {
  if (code >= 0 && code <= 255) return true;
  switch (code) {
    case PQ640_OPEN_FAILED:
    case PQ640_CLOSE_FAILED:
    case PQ640_PORT_REFUSED:
    case PQ640_NO_SERIAL_PORT:
    case PQ640_SOCKET_FAILED:
    case PQ640_TCP_FAILED:
    case PQ640_NO_SOCKET:
    case PQ640_SEND_FAILED:
    case PQ640_READ_FAILED:
    case PQ640_WRONG_TERMINAL:
    case PQ640_BUFFER_TOO_SMALL:
    case PQ640_BAD_CHECKSUM:
    case PQ640_INVALID_ARGUMENT:
      return true;
    default:
      return false;
  }
}

// The bytes of the terminal's answer the library has not taken.
std::size_t Unconsumed(bool serial) {
  std::size_t n = 0;
  if (serial) {
    if (!fake::Os().serial.ports.empty()) {
      for (const fake::Chunk& c : fake::LastSerialPort().input) n += c.bytes.size();
    }
  } else {
    const ReadAhead& ahead = Port().read_ahead;
    n += ahead.end - ahead.begin;
    if (!fake::Os().net.sockets.empty()) {
      for (const fake::Chunk& c : fake::LastSocket().script.input) n += c.bytes.size();
    }
  }
  return n;
}

}  // namespace

void Fail(const char* what, long long value) {
  std::fprintf(stderr, "invariant broken: %s (%lld)\n", what, value);
  std::abort();
}

bool SplitInput(const std::uint8_t* data, std::size_t size, FuzzInput* input) {
  if (size < 2) return false;
  input->selector = data[0];
  input->serial = (data[1] & 1) != 0;
  input->parameter = static_cast<std::uint8_t>(data[1] >> 1);
  input->terminal_bytes = std::span<const std::uint8_t>(data + 2, size - 2);
  return true;
}

void PrepareTerminal(const FuzzInput& input) {
  fake::Reset();
  ResetPortState();
  if (PQ640_SetTerminalIPAddr("127.0.0.9") != PQ640_OK) Fail("address", 0);
  fake::Chunk answer{fake::Bytes(input.terminal_bytes.begin(), input.terminal_bytes.end()), 0};
  if (input.serial) {
    if (PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, 1, 2) != PQ640_OK) Fail("serial", 0);
    if (PQ640_OpenPort() != PQ640_OK) Fail("serial open", 0);
    fake::Os().serial.replies.push_back({answer});
  } else {
    if (PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2) != PQ640_OK) Fail("tcp", 0);
    if (PQ640_OpenPort() != PQ640_OK) Fail("tcp open", 0);
    fake::SocketScript script;
    script.input.push_back(answer);
    script.end = fake::InputEnd::kPeerClose;
    fake::Os().net.scripts.push_back(script);
  }
}

void ExpectProgress(bool final_equal_allowed) { g_final_equal_allowed = final_equal_allowed; }

void PQ640_CALL CheckedProgress(std::uint32_t total, std::uint32_t index) {
  if (index > total || (index == total && !g_final_equal_allowed)) Fail("callback index", index);
}

void CheckOutcome(const FuzzInput& input, PQ640_ResultCode result) {
  if (!IsDocumentedCode(result)) Fail("undocumented result", result);
  if (result != PQ640_OK) return;
  // Success: the consumed bytes are noise, a start byte, the ID, a zero
  // result, a payload and a trailer equal to the XOR from the ID on.
  const std::size_t consumed = input.terminal_bytes.size() - Unconsumed(input.serial);
  const auto taken = input.terminal_bytes.first(consumed);
  std::size_t start = 0;
  while (start < taken.size() && taken[start] != 0x7F) ++start;
  if (taken.size() < start + 5) Fail("success without a whole frame", static_cast<long long>(consumed));
  std::uint8_t x = 0;
  for (std::size_t i = start + 1; i + 1 < taken.size(); ++i) x ^= taken[i];
  if (x != taken.back()) Fail("success with a wrong trailer", x);
  if (taken[start + 1] != 0 || taken[start + 2] != 0) Fail("success from another terminal", taken[start + 1]);
  if (taken[start + 3] != 0) Fail("success with a failure result", taken[start + 3]);
}

void CheckBoundedCount(PQ640_ResultCode result, std::uint32_t count, std::uint32_t capacity) {
  if (result == PQ640_BUFFER_TOO_SMALL && count <= capacity) Fail("-105 for a count that fits", count);
  if (result == PQ640_OK && count > capacity) Fail("success with more entries than room", count);
}

std::size_t MostEntries(const FuzzInput& input, std::size_t min_wire_size) {
  return input.terminal_bytes.size() / min_wire_size + 1;
}

}  // namespace pq640::fuzz
