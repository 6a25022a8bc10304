// Win32 serial ports behind the seam. The seam is modelled on the Windows comm
// API, so the line settings map onto DCB fields, the time-outs onto
// COMMTIMEOUTS, and a HANDLE value is the handle itself (INVALID_HANDLE_VALUE
// reads as the seam's -1). Windows keeps time-outs and queue sizes with the
// port, so nothing is kept here.
//
// Two things the comm API leaves to the caller are done here, so that the
// link behaves as on POSIX: a line error latched on the port (by another
// program's fAbortOnError, say) is cleared after opening and before each
// request, as it would block every read and write; and a write returns only
// once its bytes have left, as a driver that buffers (USB adapters do) would
// otherwise shrink the quiet time after the wake-up's zeros.
#include <windows.h>

#include <cstdio>

#include "platform/os.h"
#include "platform/port_name.h"

namespace pq640::os {
namespace {

HANDLE Native(SerialHandle port) { return reinterpret_cast<HANDLE>(port); }

bool ReadState(SerialHandle port, DCB* line) {
  *line = DCB{};
  line->DCBlength = sizeof *line;
  return GetCommState(Native(port), line) != 0;
}

LineControl FromDtr(DWORD control) {
  switch (control) {
    case DTR_CONTROL_DISABLE: return LineControl::kOff;
    case DTR_CONTROL_HANDSHAKE: return LineControl::kHandshake;
    default: return LineControl::kOn;
  }
}

LineControl FromRts(DWORD control) {
  switch (control) {
    case RTS_CONTROL_DISABLE: return LineControl::kOff;
    case RTS_CONTROL_ENABLE: return LineControl::kOn;
    default: return LineControl::kHandshake;  // handshake or toggle: the driver drives it
  }
}

// How often the output queue is looked at while a write drains: about five
// bytes' time at 9600 baud, short against any write time-out.
constexpr DWORD kDrainPollMs = 5;

// Clears a latched line error (and with it the block on reads and writes).
void ClearLineError(HANDLE port) {
  DWORD errors = 0;
  COMSTAT status{};
  (void)ClearCommError(port, &errors, &status);
}

// Bytes still in the driver's output queue; 0 when it cannot tell.
DWORD QueuedOutput(HANDLE port) {
  DWORD errors = 0;
  COMSTAT status{};
  return ClearCommError(port, &errors, &status) != 0 ? status.cbOutQue : 0;
}

// Waits until the bytes written have left the port, within the write's own
// time-out (per byte times `count` plus the constant, counted from `start`),
// as the POSIX drain does. Returns the bytes still queued when the time-out
// ran out (not sent, as after a Windows write time-out). Once the driver's
// queue is empty, FlushFileBuffers waits for what the device itself still
// holds: output flow control is off, so that is at most the device's buffer at
// the line rate and cannot wait on the terminal.
DWORD WaitUntilSent(HANDLE port, DWORD count, ULONGLONG start) {
  COMMTIMEOUTS limits{};
  ULONGLONG allowed_ms = 0;
  if (GetCommTimeouts(port, &limits) != 0) {
    allowed_ms = ULONGLONG{limits.WriteTotalTimeoutMultiplier} * count + limits.WriteTotalTimeoutConstant;
  }
  for (;;) {
    const DWORD queued = QueuedOutput(port);
    if (queued == 0) break;
    const ULONGLONG elapsed = GetTickCount64() - start;
    if (allowed_ms != 0 && elapsed >= allowed_ms) return queued < count ? queued : count;
    Sleep(kDrainPollMs);
  }
  (void)FlushFileBuffers(port);
  return 0;
}

}  // namespace

SerialHandle SerialOpen(const char* name) {
  unsigned number = 0;
  if (!ParsePortName(name, &number)) return kInvalidSerialHandle;
  // Windows resolves the bare "COM<n>" only for COM1 to COM9; the device
  // prefix reaches every port, COM10 included.
  char path[32];
  std::snprintf(path, sizeof path, "\\\\.\\COM%d", static_cast<int>(number));
  const HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port == INVALID_HANDLE_VALUE) return kInvalidSerialHandle;
  ClearLineError(port);
  return reinterpret_cast<SerialHandle>(port);
}

bool SerialClose(SerialHandle port) {
  // INVALID_HANDLE_VALUE doubles as the current process's pseudo-handle, which
  // CloseHandle accepts: refuse it here.
  return port != kInvalidSerialHandle && CloseHandle(Native(port)) != 0;
}

bool SerialGetLineSettings(SerialHandle port, LineSettings* settings) {
  DCB line;
  if (settings == nullptr || !ReadState(port, &line)) return false;
  LineSettings result;
  result.baud = line.BaudRate;
  result.data_bits = line.ByteSize;
  switch (line.Parity) {
    case ODDPARITY: result.parity = Parity::kOdd; break;
    case EVENPARITY: result.parity = Parity::kEven; break;
    case MARKPARITY: result.parity = Parity::kMark; break;
    case SPACEPARITY: result.parity = Parity::kSpace; break;
    default: result.parity = Parity::kNone; break;
  }
  switch (line.StopBits) {
    case ONE5STOPBITS: result.stop_bits = StopBits::kOneAndHalf; break;
    case TWOSTOPBITS: result.stop_bits = StopBits::kTwo; break;
    default: result.stop_bits = StopBits::kOne; break;
  }
  result.binary = line.fBinary != 0;
  result.parity_check = line.fParity != 0;
  result.cts_output_flow = line.fOutxCtsFlow != 0;
  result.dsr_output_flow = line.fOutxDsrFlow != 0;
  result.dtr = FromDtr(line.fDtrControl);
  result.dsr_sensitivity = line.fDsrSensitivity != 0;
  result.tx_continue_on_xoff = line.fTXContinueOnXoff != 0;
  result.xon_xoff_output = line.fOutX != 0;
  result.xon_xoff_input = line.fInX != 0;
  result.error_char_replace = line.fErrorChar != 0;
  result.null_strip = line.fNull != 0;
  result.rts = FromRts(line.fRtsControl);
  result.abort_on_error = line.fAbortOnError != 0;
  *settings = result;
  return true;
}

bool SerialSetLineSettings(SerialHandle port, const LineSettings& settings) {
  // Starting from the port's own state keeps what the seam does not carry
  // (XON/XOFF limits and characters, the error and event characters).
  DCB line;
  if (!ReadState(port, &line)) return false;
  line.BaudRate = settings.baud;
  line.ByteSize = settings.data_bits;
  switch (settings.parity) {
    case Parity::kNone: line.Parity = NOPARITY; break;
    case Parity::kOdd: line.Parity = ODDPARITY; break;
    case Parity::kEven: line.Parity = EVENPARITY; break;
    case Parity::kMark: line.Parity = MARKPARITY; break;
    case Parity::kSpace: line.Parity = SPACEPARITY; break;
    default: return false;
  }
  switch (settings.stop_bits) {
    case StopBits::kOne: line.StopBits = ONESTOPBIT; break;
    case StopBits::kOneAndHalf: line.StopBits = ONE5STOPBITS; break;
    case StopBits::kTwo: line.StopBits = TWOSTOPBITS; break;
    default: return false;
  }
  switch (settings.dtr) {
    case LineControl::kOff: line.fDtrControl = DTR_CONTROL_DISABLE; break;
    case LineControl::kOn: line.fDtrControl = DTR_CONTROL_ENABLE; break;
    case LineControl::kHandshake: line.fDtrControl = DTR_CONTROL_HANDSHAKE; break;
    default: return false;
  }
  switch (settings.rts) {
    case LineControl::kOff: line.fRtsControl = RTS_CONTROL_DISABLE; break;
    case LineControl::kOn: line.fRtsControl = RTS_CONTROL_ENABLE; break;
    case LineControl::kHandshake: line.fRtsControl = RTS_CONTROL_HANDSHAKE; break;
    default: return false;
  }
  line.fBinary = settings.binary;
  line.fParity = settings.parity_check;
  line.fOutxCtsFlow = settings.cts_output_flow;
  line.fOutxDsrFlow = settings.dsr_output_flow;
  line.fDsrSensitivity = settings.dsr_sensitivity;
  line.fTXContinueOnXoff = settings.tx_continue_on_xoff;
  line.fOutX = settings.xon_xoff_output;
  line.fInX = settings.xon_xoff_input;
  line.fErrorChar = settings.error_char_replace;
  line.fNull = settings.null_strip;
  line.fAbortOnError = settings.abort_on_error;
  return SetCommState(Native(port), &line) != 0;
}

bool SerialGetTimeouts(SerialHandle port, SerialTimeouts* timeouts) {
  COMMTIMEOUTS limits{};
  if (timeouts == nullptr || GetCommTimeouts(Native(port), &limits) == 0) return false;
  timeouts->read_interval_ms = limits.ReadIntervalTimeout;
  timeouts->read_total_per_byte_ms = limits.ReadTotalTimeoutMultiplier;
  timeouts->read_total_constant_ms = limits.ReadTotalTimeoutConstant;
  timeouts->write_total_per_byte_ms = limits.WriteTotalTimeoutMultiplier;
  timeouts->write_total_constant_ms = limits.WriteTotalTimeoutConstant;
  return true;
}

bool SerialSetTimeouts(SerialHandle port, const SerialTimeouts& timeouts) {
  COMMTIMEOUTS limits{};
  limits.ReadIntervalTimeout = timeouts.read_interval_ms;
  limits.ReadTotalTimeoutMultiplier = timeouts.read_total_per_byte_ms;
  limits.ReadTotalTimeoutConstant = timeouts.read_total_constant_ms;
  limits.WriteTotalTimeoutMultiplier = timeouts.write_total_per_byte_ms;
  limits.WriteTotalTimeoutConstant = timeouts.write_total_constant_ms;
  return SetCommTimeouts(Native(port), &limits) != 0;
}

bool SerialSetQueueSizes(SerialHandle port, std::uint32_t input_bytes, std::uint32_t output_bytes) {
  return SetupComm(Native(port), input_bytes, output_bytes) != 0;
}

// Runs before every request: the place to clear an error latched since the
// last one, before it blocks the request's write.
bool SerialDiscardInput(SerialHandle port) {
  ClearLineError(Native(port));
  return PurgeComm(Native(port), PURGE_RXCLEAR) != 0;
}

bool SerialRead(SerialHandle port, std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
  DWORD got = 0;
  const bool ok = ReadFile(Native(port), buffer, count, &got, nullptr) != 0;
  if (done != nullptr) *done = got;
  return ok;
}

bool SerialWrite(SerialHandle port, const std::uint8_t* data, std::uint32_t count, std::uint32_t* done) {
  const ULONGLONG start = GetTickCount64();
  DWORD sent = 0;
  const bool ok = WriteFile(Native(port), data, count, &sent, nullptr) != 0;
  if (ok && sent > 0) sent -= WaitUntilSent(Native(port), sent, start);
  if (done != nullptr) *done = sent;
  return ok;
}

}  // namespace pq640::os
