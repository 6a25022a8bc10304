// The fake OS's serial ports: scripted devices, their settings and time-outs,
// and reads that spend the virtual time a real port would wait.
#include <algorithm>
#include <cstring>

#include "fake_os_internal.h"

namespace pq640::os {

using fake::Injected;
using fake::internal::Fails;
using fake::internal::g_os;
using fake::internal::InjectedHere;
using fake::internal::Log;

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
  port.handle = fake::internal::kFirstSerialHandle + static_cast<SerialHandle>(g_os.serial.ports.size());
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
  fake::FakeSerialPort* p = fake::internal::FindPort(handle);
  if (p == nullptr || g_os.serial.fail_close || Fails()) return false;
  p->open = false;
  return true;
}

bool SerialGetLineSettings(SerialHandle handle, LineSettings* settings) {
  Log("SerialGetLineSettings(%ld)", static_cast<long>(handle));
  fake::FakeSerialPort* p = fake::internal::FindPort(handle);
  if (p == nullptr || g_os.serial.fail_get_line_settings || Fails()) return false;
  *settings = p->settings;
  return true;
}

bool SerialSetLineSettings(SerialHandle handle, const LineSettings& settings) {
  Log("SerialSetLineSettings(%ld,%u)", static_cast<long>(handle), settings.baud);
  fake::FakeSerialPort* p = fake::internal::FindPort(handle);
  if (p == nullptr || g_os.serial.fail_set_line_settings || Fails()) return false;
  p->settings = settings;
  p->applied_bauds.push_back(settings.baud);
  return true;
}

bool SerialGetTimeouts(SerialHandle handle, SerialTimeouts* timeouts) {
  Log("SerialGetTimeouts(%ld)", static_cast<long>(handle));
  fake::FakeSerialPort* p = fake::internal::FindPort(handle);
  if (p == nullptr || g_os.serial.fail_get_timeouts || Fails()) return false;
  *timeouts = p->timeouts;
  return true;
}

bool SerialSetTimeouts(SerialHandle handle, const SerialTimeouts& timeouts) {
  Log("SerialSetTimeouts(%ld,%u)", static_cast<long>(handle), timeouts.read_total_constant_ms);
  fake::FakeSerialPort* p = fake::internal::FindPort(handle);
  if (p == nullptr || g_os.serial.fail_set_timeouts || Fails()) return false;
  p->timeouts = timeouts;
  return true;
}

bool SerialSetQueueSizes(SerialHandle handle, std::uint32_t input_bytes, std::uint32_t output_bytes) {
  Log("SerialSetQueueSizes(%ld,%u,%u)", static_cast<long>(handle), input_bytes, output_bytes);
  fake::FakeSerialPort* p = fake::internal::FindPort(handle);
  if (p == nullptr || Fails()) return false;
  p->queue_in = input_bytes;
  p->queue_out = output_bytes;
  return true;
}

bool SerialDiscardInput(SerialHandle handle) {
  Log("SerialDiscardInput(%ld)", static_cast<long>(handle));
  fake::FakeSerialPort* p = fake::internal::FindPort(handle);
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
  fake::FakeSerialPort* p = fake::internal::FindPort(handle);
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
    if (p->input.empty() || fake::internal::HeadReadyAt(*p, p->input) > deadline) {
      g_os.now_ms = std::max(g_os.now_ms, deadline);
      break;
    }
    g_os.now_ms = std::max(g_os.now_ms, fake::internal::HeadReadyAt(*p, p->input));
    *done += fake::internal::TakeFromHead(*p, p->input, buffer + *done, count - *done);
    last_byte_at = g_os.now_ms;
  }
  return true;
}

bool SerialWrite(SerialHandle handle, const std::uint8_t* data, std::uint32_t count, std::uint32_t* done) {
  Log("SerialWrite(%ld,%u)", static_cast<long>(handle), count);
  *done = 0;
  fake::FakeSerialPort* p = fake::internal::FindPort(handle);
  const Injected injected = InjectedHere();
  if (p == nullptr || injected == Injected::kFailure) return false;
  if (injected == Injected::kShort) count /= 2;
  p->written.insert(p->written.end(), data, data + count);
  *done = count;
  return true;
}

}  // namespace pq640::os
