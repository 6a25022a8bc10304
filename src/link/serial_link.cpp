#include "link/serial_link.h"

#include <array>
#include <cstdio>

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
  const os::SerialHandle port = Port().serial_handle;
  os::SerialTimeouts timeouts;
  if (!os::SerialGetTimeouts(port, &timeouts)) return PQ640_PORT_REFUSED;
  timeouts.read_total_constant_ms = timeout_ms;
  if (!os::SerialSetTimeouts(port, timeouts)) return PQ640_PORT_REFUSED;
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

// One read governed by the port's time-outs; it reports what arrived in time.
// No read-ahead: the time-outs are defined by the count asked for.
ResultCode SerialLinkRead(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* arrived) {
  if (!os::SerialRead(Port().serial_handle, buffer, count, arrived)) return PQ640_READ_FAILED;
  return PQ640_OK;
}

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
