// POSIX serial ports (termios) behind the seam's Windows comm model.
//
// "COM<n>" opens an administrator's /dev/COM<n> link when there is one, else
// /dev/ttyS<n-1>. termios keeps no read or write time-outs, so each port keeps
// its five values beside its descriptor and the reads and writes time
// themselves with poll(). Only what the serial link asks for is provided: the
// baud rates of its table, no parity or odd/even, and the plain time-out form
// (interval plus total, zero meaning "no limit").
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/os.h"
#include "platform/os_posix_testing.h"
#include "platform/port_name.h"
#include "platform/posix/drain.h"
#include "platform/posix/handles.h"
#include "platform/posix/timing.h"

namespace pq640::os {
namespace {

using posix::Micros;

struct SerialEntry {
  SerialHandle handle = kInvalidSerialHandle;
  int fd = -1;
  SerialTimeouts timeouts{};  // a fresh port starts without limits
};

constinit posix::HandleTable<SerialEntry, 16> g_ports;

// Test hook only: a few ports redirected to short paths (pseudo-terminals live
// under /dev/pts). Kept small because it ships in the library's static data.
inline constexpr std::size_t kMaxRedirects = 10;
inline constexpr std::size_t kRedirectPathBytes = 64;  // NUL included

struct DeviceRedirect {
  unsigned port = 0;  // 0: slot free (COM0 never opens)
  char path[kRedirectPathBytes] = {};
};

constinit DeviceRedirect g_redirects[kMaxRedirects];

void DevicePathFor(unsigned port, char (&path)[PATH_MAX]) {
  for (const DeviceRedirect& redirect : g_redirects) {
    if (redirect.port == port) {
      std::memcpy(path, redirect.path, sizeof redirect.path);
      return;
    }
  }
  // An administrator's /dev/COMn link wins even when its target is missing
  // (lstat, not stat): an unplugged adapter must not fall back to another port.
  std::snprintf(path, sizeof path, "/dev/COM%u", port);
  struct stat link {};
  if (lstat(path, &link) == 0) return;
  std::snprintf(path, sizeof path, "/dev/ttyS%u", port - 1u);
}

struct BaudRate {
  std::uint32_t baud;
  speed_t speed;
};

constexpr BaudRate kBaudRates[] = {
    {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200},
};

// Flags that exist only on some systems count as clear where they are missing.
#ifdef IUCLC
constexpr tcflag_t kUpperToLowerIn = IUCLC;
#else
constexpr tcflag_t kUpperToLowerIn = 0;
#endif
#ifdef OLCUC
constexpr tcflag_t kLowerToUpperOut = OLCUC;
#else
constexpr tcflag_t kLowerToUpperOut = 0;
#endif
#ifdef OFILL
constexpr tcflag_t kFillCharacters = OFILL;
#else
constexpr tcflag_t kFillCharacters = 0;
#endif
#ifdef XCASE
constexpr tcflag_t kCanonicalCase = XCASE;
#else
constexpr tcflag_t kCanonicalCase = 0;
#endif

// The bits raw mode clears, so that no byte is changed, added or swallowed on
// the way in or out whatever mode the port was left in: no line editing, echo,
// signals, case or CR/NL translation, output processing, break handling,
// parity marking or stripping of bit 7. IXON/IXOFF follow the line settings.
constexpr tcflag_t kRawClearedInput = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXANY | IMAXBEL | kUpperToLowerIn;
constexpr tcflag_t kRawClearedOutput =
    OPOST | ONLCR | OCRNL | ONOCR | ONLRET | kLowerToUpperOut | kFillCharacters;
constexpr tcflag_t kRawClearedLocal = ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE |
                                      ICANON | ISIG | IEXTEN | kCanonicalCase;

bool IsRaw(const termios& line) {
  return (line.c_iflag & kRawClearedInput) == 0 && (line.c_oflag & kRawClearedOutput) == 0 &&
         (line.c_lflag & kRawClearedLocal) == 0;
}

// Best effort: pseudo-terminals have no modem lines and reject these ioctls.
void SetModemLine(int fd, int line, LineControl control) {
  if (control == LineControl::kOn) {
    ioctl(fd, TIOCMBIS, &line);
  } else if (control == LineControl::kOff) {
    ioctl(fd, TIOCMBIC, &line);
  }
}

Micros Earlier(Micros a, Micros b) { return a < b ? a : b; }

bool ReadWithTimeouts(const SerialEntry& port, std::uint8_t* buffer, std::uint32_t count,
                      std::uint32_t* got) {
  if (count == 0) return true;
  const SerialTimeouts& limits = port.timeouts;
  const std::uint64_t total_ms =
      std::uint64_t{limits.read_total_per_byte_ms} * count + limits.read_total_constant_ms;
  const Micros total_deadline =
      total_ms == 0 ? posix::kNoDeadline : posix::DeadlineAfterMs(posix::NowUs(), total_ms);

  Micros last_byte = 0;
  bool stalled = false;  // poll said ready, yet the read brought nothing
  while (*got < count) {
    const ssize_t n = read(port.fd, buffer + *got, count - *got);
    if (n > 0) {
      *got += static_cast<std::uint32_t>(n);
      last_byte = posix::NowUs();
      stalled = false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // With VMIN=0 an empty queue reads as 0 bytes, and so does a hung-up line.
    // EIO means the other side of a pseudo-terminal has gone. In every case
    // nothing is there now, and the time-outs decide how long to wait for more.
    if (n < 0 && errno != EAGAIN && errno != EIO) return false;

    Micros wake = total_deadline;
    if (limits.read_interval_ms != 0 && *got > 0) {
      wake = Earlier(wake, posix::DeadlineAfterMs(last_byte, limits.read_interval_ms));
    }
    const Micros now = posix::NowUs();
    if (wake != posix::kNoDeadline && now >= wake) break;
    if (stalled) {
      // A hung-up device polls ready forever; pause instead of spinning.
      posix::SleepUntil(Earlier(wake, now + 10'000u));
      stalled = false;
      continue;
    }
    const int events = posix::WaitFor(port.fd, POLLIN, wake);
    if (events < 0) return false;
    stalled = events > 0;
  }
  return true;
}

bool WriteWithTimeouts(const SerialEntry& port, const std::uint8_t* data, std::uint32_t count,
                       std::uint32_t* sent) {
  if (count == 0) return true;
  const SerialTimeouts& limits = port.timeouts;
  const std::uint64_t total_ms =
      std::uint64_t{limits.write_total_per_byte_ms} * count + limits.write_total_constant_ms;
  const Micros deadline =
      total_ms == 0 ? posix::kNoDeadline : posix::DeadlineAfterMs(posix::NowUs(), total_ms);
  while (*sent < count) {
    const ssize_t n = write(port.fd, data + *sent, count - *sent);
    if (n > 0) {
      *sent += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    // A hang-up shows as an event here and as EIO from the next write.
    const int events = posix::WaitFor(port.fd, POLLOUT, deadline);
    if (events < 0) return false;
    if (events == 0) break;  // time-out
  }
  // Report only what has left the port, as a Windows write does: bytes still
  // in the driver's queue when the time-out ends were not sent.
  const std::uint32_t waiting = posix::WaitForDrain(
      [&port] {
        int queued = 0;
        return ioctl(port.fd, TIOCOUTQ, &queued) == 0 ? long{queued} : -1L;
      },
      deadline);
  *sent -= waiting < *sent ? waiting : *sent;
  return true;
}

}  // namespace

SerialHandle SerialOpen(const char* name) {
  unsigned port = 0;
  if (!ParsePortName(name, &port)) return kInvalidSerialHandle;
  char path[PATH_MAX];
  DevicePathFor(port, path);

  int fd = -1;
  do {
    fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kInvalidSerialHandle;
  // Only a terminal is a serial port. TIOCEXCL alone does not make the port
  // exclusive (root bypasses it), so a second open must also lose the lock.
  SerialEntry* entry = nullptr;
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || (entry = g_ports.Add(fd)) == nullptr) {
    close(fd);
    return kInvalidSerialHandle;
  }
  ioctl(fd, TIOCEXCL);
  return entry->handle;
}

bool SerialClose(SerialHandle port) {
  SerialEntry* entry = g_ports.Find(port);
  if (entry == nullptr) return false;
  const int fd = entry->fd;
  g_ports.Remove(entry);
  // The exclusive flag belongs to the device and outlives this descriptor when
  // someone else holds the device open; the lock is shared with forked
  // children. Give both back explicitly.
  ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
  // Linux releases the descriptor even when close reports EINTR.
  return close(fd) == 0 || errno == EINTR;
}

bool SerialGetLineSettings(SerialHandle port, LineSettings* settings) {
  const SerialEntry* entry = g_ports.Find(port);
  termios line{};
  if (entry == nullptr || settings == nullptr || tcgetattr(entry->fd, &line) != 0) return false;

  LineSettings result;
  result.baud = 0;  // a rate outside the table
  const speed_t speed = cfgetospeed(&line);
  for (const BaudRate& rate : kBaudRates) {
    if (rate.speed == speed) result.baud = rate.baud;
  }
  switch (line.c_cflag & CSIZE) {
    case CS5: result.data_bits = 5; break;
    case CS6: result.data_bits = 6; break;
    case CS7: result.data_bits = 7; break;
    default: result.data_bits = 8; break;
  }
  if ((line.c_cflag & PARENB) == 0) {
    result.parity = Parity::kNone;
  } else {
    result.parity = (line.c_cflag & PARODD) != 0 ? Parity::kOdd : Parity::kEven;
  }
  result.stop_bits = (line.c_cflag & CSTOPB) != 0 ? StopBits::kTwo : StopBits::kOne;
  result.binary = IsRaw(line);
  result.parity_check = (line.c_iflag & INPCK) != 0;

  const bool hardware_flow = (line.c_cflag & CRTSCTS) != 0;
  int lines = 0;
  // Without modem lines (a pseudo-terminal) report what open leaves: both up.
  const bool have_lines = ioctl(entry->fd, TIOCMGET, &lines) == 0;
  const auto line_state = [&](int bit) {
    return !have_lines || (lines & bit) != 0 ? LineControl::kOn : LineControl::kOff;
  };
  result.cts_output_flow = hardware_flow;
  result.dtr = line_state(TIOCM_DTR);
  result.rts = hardware_flow ? LineControl::kHandshake : line_state(TIOCM_RTS);
  result.xon_xoff_output = (line.c_iflag & IXON) != 0;
  result.xon_xoff_input = (line.c_iflag & IXOFF) != 0;

  // What termios cannot express, as the driver behaves: no DSR handling, the
  // transmitter keeps going after sending XOFF, NULs are never stripped, line
  // errors never abort a transfer, and a byte failing the parity check reads
  // as NUL unless it is ignored or marked.
  result.dsr_output_flow = false;
  result.dsr_sensitivity = false;
  result.tx_continue_on_xoff = true;
  result.error_char_replace = result.parity_check && (line.c_iflag & (IGNPAR | PARMRK)) == 0;
  result.null_strip = false;
  result.abort_on_error = false;
  *settings = result;
  return true;
}

bool SerialSetLineSettings(SerialHandle port, const LineSettings& settings) {
  const SerialEntry* entry = g_ports.Find(port);
  if (entry == nullptr) return false;

  // Check everything before touching the device so a refusal changes nothing.
  const BaudRate* rate = nullptr;
  for (const BaudRate& candidate : kBaudRates) {
    if (candidate.baud == settings.baud) rate = &candidate;
  }
  tcflag_t size = 0;
  switch (settings.data_bits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return false;
  }
  tcflag_t parity = 0;
  switch (settings.parity) {
    case Parity::kNone: break;
    case Parity::kOdd: parity = PARENB | PARODD; break;
    case Parity::kEven: parity = PARENB; break;
    default: return false;  // mark and space need a non-POSIX flag
  }
  // termios has no one-and-a-half stop bits and no DTR handshake.
  if (rate == nullptr || settings.dtr == LineControl::kHandshake ||
      (settings.stop_bits != StopBits::kOne && settings.stop_bits != StopBits::kTwo)) {
    return false;
  }

  termios line{};
  if (tcgetattr(entry->fd, &line) != 0) return false;
  line.c_iflag &= ~(kRawClearedInput | INPCK | IXON | IXOFF);
  line.c_oflag &= ~kRawClearedOutput;
  line.c_lflag &= ~kRawClearedLocal;
  line.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  line.c_cflag |= CLOCAL | CREAD | size | parity;
  if (settings.stop_bits == StopBits::kTwo) line.c_cflag |= CSTOPB;
  if (settings.cts_output_flow || settings.rts == LineControl::kHandshake) line.c_cflag |= CRTSCTS;
  if (settings.parity_check) line.c_iflag |= INPCK;
  if (settings.xon_xoff_output) line.c_iflag |= IXON;
  if (settings.xon_xoff_input) line.c_iflag |= IXOFF;
  // Reads never block in the driver; SerialRead does its own timing with poll.
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  if (cfsetispeed(&line, rate->speed) != 0 || cfsetospeed(&line, rate->speed) != 0) return false;
  if (tcsetattr(entry->fd, TCSANOW, &line) != 0) return false;

  SetModemLine(entry->fd, TIOCM_DTR, settings.dtr);
  SetModemLine(entry->fd, TIOCM_RTS, settings.rts);
  return true;
}

bool SerialGetTimeouts(SerialHandle port, SerialTimeouts* timeouts) {
  const SerialEntry* entry = g_ports.Find(port);
  if (entry == nullptr || timeouts == nullptr) return false;
  *timeouts = entry->timeouts;
  return true;
}

bool SerialSetTimeouts(SerialHandle port, const SerialTimeouts& timeouts) {
  SerialEntry* entry = g_ports.Find(port);
  if (entry == nullptr) return false;
  entry->timeouts = timeouts;
  return true;
}

bool SerialSetQueueSizes(SerialHandle port, std::uint32_t, std::uint32_t) {
  // The driver's queues have fixed sizes; only the handle can be wrong.
  return g_ports.Find(port) != nullptr;
}

bool SerialDiscardInput(SerialHandle port) {
  const SerialEntry* entry = g_ports.Find(port);
  return entry != nullptr && tcflush(entry->fd, TCIFLUSH) == 0;
}

bool SerialRead(SerialHandle port, std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
  std::uint32_t got = 0;
  const SerialEntry* entry = g_ports.Find(port);
  const bool ok = entry != nullptr && ReadWithTimeouts(*entry, buffer, count, &got);
  if (done != nullptr) *done = got;
  return ok;
}

bool SerialWrite(SerialHandle port, const std::uint8_t* data, std::uint32_t count, std::uint32_t* done) {
  std::uint32_t sent = 0;
  const SerialEntry* entry = g_ports.Find(port);
  const bool ok = entry != nullptr && WriteWithTimeouts(*entry, data, count, &sent);
  if (done != nullptr) *done = sent;
  return ok;
}

namespace testing {

bool SetSerialDevicePath(unsigned port_number, const char* device_path) {
  if (port_number == 0) return false;
  DeviceRedirect* slot = nullptr;
  for (DeviceRedirect& redirect : g_redirects) {
    if (redirect.port == port_number) slot = &redirect;
  }
  if (device_path == nullptr) {
    if (slot != nullptr) slot->port = 0;
    return true;
  }
  for (DeviceRedirect& redirect : g_redirects) {
    if (slot == nullptr && redirect.port == 0) slot = &redirect;
  }
  if (slot == nullptr) return false;  // table full
  slot->port = port_number;
  // A path that does not fit is stored empty: the port then fails to open
  // instead of falling back to a real device.
  const std::size_t length = std::strlen(device_path);
  const bool fits = length < sizeof slot->path;
  const std::size_t kept = fits ? length : 0;
  std::memcpy(slot->path, device_path, kept);
  slot->path[kept] = '\0';
  return fits;
}

}  // namespace testing

}  // namespace pq640::os
