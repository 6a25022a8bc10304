#include "link/serial_link.h"

#include <array>
#include <cstdio>

#include "link/answer_clock.h"
#include "link/byte_channel.h"
#include "link/link_backend.h"
#include "port/comm_state.h"

namespace pq640 {
namespace {

constexpr std::array<std::uint32_t, 7> kBaudRates = {2400, 4800, 9600, 19200, 38400, 57600, 115200};

// The fixed line settings of an opened port; everything else keeps what the
// port reported.
void ApplyFixedLineSettings(os::LineSettings* settings) {
  settings->baud = 9600;
  settings->data_bits = 8;
  settings->parity = os::Parity::kNone;
  settings->stop_bits = os::StopBits::kOne;
  settings->binary = true;
  settings->parity_check = false;
  settings->cts_output_flow = false;
  settings->dsr_output_flow = false;
  settings->dtr = os::LineControl::kOn;
  settings->dsr_sensitivity = false;
  settings->tx_continue_on_xoff = true;
  settings->xon_xoff_output = false;
  settings->xon_xoff_input = false;
  settings->error_char_replace = false;
  settings->null_strip = false;
  settings->rts = os::LineControl::kOn;
  settings->abort_on_error = false;
}

bool ConfigurePort(os::SerialHandle port) {
  os::LineSettings settings;
  if (!os::SerialGetLineSettings(port, &settings)) return false;
  ApplyFixedLineSettings(&settings);
  if (!os::SerialSetLineSettings(port, settings)) return false;
  os::SerialTimeouts timeouts;
  if (!os::SerialGetTimeouts(port, &timeouts)) return false;
  timeouts = kSerialTimeoutsAtOpen;
  return os::SerialSetTimeouts(port, timeouts);
}

ResultCode SerialUsable() {
  return Port().serial_port == 0 ? PQ640_NO_SERIAL_PORT : PQ640_OK;
}

// With no port open the platform refuses both calls, so every command on a
// serial link that is not open ends here.
ResultCode SerialSetReadWait(std::uint32_t timeout_ms) {
  PortState& state = Port();
  os::SerialTimeouts timeouts;
  if (!os::SerialGetTimeouts(state.serial_handle, &timeouts)) return PQ640_PORT_REFUSED;
  timeouts.read_total_constant_ms = timeout_ms;
  if (!os::SerialSetTimeouts(state.serial_handle, timeouts)) return PQ640_PORT_REFUSED;
  state.serial_timeouts = timeouts;
  state.serial_timeouts_tightened = false;
  return PQ640_OK;
}

ResultCode SerialPrepareRequest() {
  const PortState& state = Port();
  if (state.serial_port == 0) return PQ640_NO_SERIAL_PORT;
  (void)os::SerialSetQueueSizes(state.serial_handle, kSerialQueueBytes, kSerialQueueBytes);
  // The rest of an aborted exchange must not meet this request's start-byte
  // search, where it would pass for the new response.
  (void)os::SerialDiscardInput(state.serial_handle);
  return PQ640_OK;
}

// A failed or short serial write shows when the response is read.
ResultCode SerialLinkWrite(const os::SendSlice* slices, std::uint32_t slice_count) {
  for (std::uint32_t i = 0; i < slice_count; ++i) {
    std::uint32_t written = 0;
    (void)os::SerialWrite(Port().serial_handle, slices[i].data, slices[i].size, &written);
  }
  return PQ640_OK;
}

// The longest a read of `count` bytes may take under the answer's deadline:
// what remains of it, plus what those bytes would earn at the floor rate
// once they earn anything, so that a read at line speed is never cut
// whatever its size.
std::uint64_t DeadlineForRead(std::uint32_t count) {
  return std::uint64_t{AnswerTimeLeftMs()} + AnswerMsEarnedBy(count);
}

// The port's time-outs for a read of `count` bytes: the command's, or, where
// the answer's deadline is nearer, that deadline; the command's are put back
// once the deadline no longer limits a read. Returns the deadline's limit
// when it applies, 0 otherwise; a port that refuses them is -3.
ResultCode FitTimeoutsToDeadline(std::uint32_t count, std::uint64_t* limit_ms) {
  PortState& state = Port();
  const os::SerialTimeouts& command = state.serial_timeouts;
  const std::uint64_t own = std::uint64_t{command.read_total_per_byte_ms} * count +
                            command.read_total_constant_ms;
  const std::uint64_t limit = DeadlineForRead(count);
  *limit_ms = 0;
  if (limit < own) {
    os::SerialTimeouts tightened = command;
    tightened.read_total_per_byte_ms = 0;
    tightened.read_total_constant_ms = static_cast<std::uint32_t>(limit);
    if (!os::SerialSetTimeouts(state.serial_handle, tightened)) return PQ640_PORT_REFUSED;
    state.serial_timeouts_tightened = true;
    *limit_ms = limit;
  } else if (state.serial_timeouts_tightened) {
    if (!os::SerialSetTimeouts(state.serial_handle, command)) return PQ640_PORT_REFUSED;
    state.serial_timeouts_tightened = false;
  }
  return PQ640_OK;
}

// One read governed by the port's time-outs; it reports what arrived in time.
// No read-ahead: the time-outs are defined by the count asked for. A read
// that the answer's deadline ended is -100, whatever arrived.
ResultCode SerialLinkRead(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* arrived) {
  if (AnswerTimeLeftMs() == 0) return PQ640_READ_FAILED;
  std::uint64_t limit_ms = 0;
  if (const ResultCode r = FitTimeoutsToDeadline(count, &limit_ms); r != PQ640_OK) return r;
  const std::uint64_t before = os::MonotonicMs();
  if (!os::SerialRead(Port().serial_handle, buffer, count, arrived)) return PQ640_READ_FAILED;
  const bool deadline_ended_it = limit_ms != 0 && os::MonotonicMs() - before >= limit_ms;
  if (*arrived < count && deadline_ended_it) return PQ640_READ_FAILED;
  return PQ640_OK;
}

std::uint32_t SerialAnswerFloor() {
  return BaudRateOf(BaudCode(Port().comm_state)) / kSerialFloorDivisor;
}

// The next request discards stale input anyway; doing it now keeps the
// terminal's unread answer from sitting in the queue meanwhile.
void SerialAbandonAnswer() { (void)os::SerialDiscardInput(Port().serial_handle); }

}  // namespace

std::uint32_t BaudRateOf(std::uint32_t baud_code) {
  return baud_code < kBaudRates.size() ? kBaudRates[baud_code] : 9600;
}

ResultCode SerialOpen() {
  PortState& state = Port();
  // Reopening closes the handle first; otherwise the exclusive open would fail.
  // A handle that will not close is kept, never forgotten: a later close can
  // still release it.
  if (state.serial_handle != os::kInvalidSerialHandle) {
    if (!os::SerialClose(state.serial_handle)) {
      state.serial_port = 0;
      return PQ640_OPEN_FAILED;
    }
    state.serial_handle = os::kInvalidSerialHandle;
  }
  char name[16];
  std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(state.serial_port));
  const os::SerialHandle port = os::SerialOpen(name);
  if (port == os::kInvalidSerialHandle) {
    state.serial_port = 0;
    return PQ640_OPEN_FAILED;
  }
  if (!ConfigurePort(port)) {
    // A port that refused its settings is not kept open half-configured.
    (void)os::SerialClose(port);
    return PQ640_PORT_REFUSED;
  }
  state.serial_handle = port;
  (void)ApplyBaudCode(state.comm_state);
  return PQ640_OK;
}

ResultCode SerialClose() {
  PortState& state = Port();
  if (state.serial_handle == os::kInvalidSerialHandle) return PQ640_CLOSE_FAILED;
  if (!os::SerialClose(state.serial_handle)) return PQ640_CLOSE_FAILED;
  state.serial_handle = os::kInvalidSerialHandle;
  state.serial_port = 0;
  return PQ640_OK;
}

ResultCode ApplyBaudCode(std::uint32_t code) {
  PortState& state = Port();
  if (state.serial_port == 0) return PQ640_NO_SERIAL_PORT;
  os::LineSettings settings;
  // Applying is not checked: the line speed shows in the next exchange.
  if (os::SerialGetLineSettings(state.serial_handle, &settings)) {
    settings.baud = BaudRateOf(BaudCode(code));
    settings.parity = os::Parity::kNone;
    settings.stop_bits = os::StopBits::kOne;
    (void)os::SerialSetLineSettings(state.serial_handle, settings);
  }
  state.comm_state = static_cast<std::uint16_t>(code);
  return PQ640_OK;
}

const LinkBackend kSerialBackend = {
    .open = &SerialOpen,
    .close = &SerialClose,
    .set_read_wait = &SerialSetReadWait,
    .prepare_request = &SerialPrepareRequest,
    .usable = &SerialUsable,
    .write = &SerialLinkWrite,
    .read = &SerialLinkRead,
    .answer_floor = &SerialAnswerFloor,
    .abandon_answer = &SerialAbandonAnswer,
};

}  // namespace pq640

using namespace pq640;

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_WakeUp(void) {
  PortState& state = Port();
  if (state.link_kind == LinkKind::kTcp) return PQ640_OK;
  const std::uint32_t remembered = state.comm_state;
  (void)ApplyBaudCode(kWakeUpBaudCode);
  static constexpr std::uint8_t kZeros[kWakeUpByteCount] = {};
  DiscardGathered();  // not part of any request
  (void)SendBytes(kZeros, kWakeUpByteCount);
  os::SleepMs(kWakeUpSleepMs);
  (void)ApplyBaudCode(remembered);
  return PQ640_OK;
}
