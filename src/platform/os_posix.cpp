// POSIX (Linux) implementation of the OS seam.
//
// All state lives in fixed tables of trivially destructible records, constant-
// initialised: the library's unload hook runs during static destruction and may
// still call in here, so nothing may depend on a constructor or destructor.
#include "platform/os.h"
#include "platform/os_posix_testing.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace pq640::os {
namespace {

// Handles carry a generation above the descriptor number; that needs 64 bits.
static_assert(sizeof(std::intptr_t) >= 8, "handles need a 64-bit intptr_t");

// ---- Clock and waits --------------------------------------------------------

using Micros = std::uint64_t;
constexpr Micros kNoDeadline = UINT64_MAX;
// Anything longer than this (about 31 years) is treated as "no limit".
constexpr std::uint64_t kLongestLimitMs = 1'000'000'000'000ull;
constexpr std::uint32_t kMaxDword = UINT32_MAX;

Micros NowUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<Micros>(now.tv_sec) * 1'000'000u + static_cast<Micros>(now.tv_nsec) / 1000u;
}

Micros DeadlineAfterMs(Micros start, std::uint64_t ms) {
  return ms > kLongestLimitMs ? kNoDeadline : start + ms * 1000u;
}

Micros Earlier(Micros a, Micros b) { return a < b ? a : b; }

// poll() time-out that reaches `deadline`, rounded up so no wait ends early.
int PollTimeoutMs(Micros deadline) {
  if (deadline == kNoDeadline) return -1;
  const Micros now = NowUs();
  if (now >= deadline) return 0;
  const Micros ms = (deadline - now + 999u) / 1000u;
  return ms > static_cast<Micros>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

// Waits for `events` on `fd` until `deadline`. The remaining time is recomputed
// from the deadline after every signal. Returns the reported events (which may
// be only POLLHUP/POLLERR), 0 on time-out, -1 when poll itself fails.
int WaitFor(int fd, short events, Micros deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, PollTimeoutMs(deadline));
    if (ready > 0) return entry.revents;
    if (ready == 0) {
      if (NowUs() >= deadline) return 0;
      continue;  // a wait longer than poll() can express in one go
    }
    if (errno != EINTR) return -1;
  }
}

void SleepUntil(Micros deadline) {
  timespec until{};
  until.tv_sec = static_cast<time_t>(deadline / 1'000'000u);
  until.tv_nsec = static_cast<long>(deadline % 1'000'000u) * 1000L;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// ---- Handles ----------------------------------------------------------------

// POSIX hands out the lowest free descriptor number again at once, so a bare
// descriptor number would let a stale handle close whatever the host opened
// next. A generation above the number makes each handle unique.
constinit std::uint32_t g_generation = 0;

std::intptr_t NewHandle(int fd) {
  if (++g_generation > 0x7FFFFFFFu) g_generation = 1;  // stay positive, never -1
  return (static_cast<std::intptr_t>(g_generation) << 32) | static_cast<std::intptr_t>(fd);
}

template <typename Entry, std::size_t N>
Entry* FindEntry(Entry (&table)[N], std::intptr_t handle) {
  if (handle < 0) return nullptr;
  for (Entry& entry : table) {
    if (entry.fd >= 0 && entry.handle == handle) return &entry;
  }
  return nullptr;
}

template <typename Entry, std::size_t N>
Entry* FreeEntry(Entry (&table)[N]) {
  for (Entry& entry : table) {
    if (entry.fd < 0) return &entry;
  }
  return nullptr;
}

// ---- Socket layer state -------------------------------------------------------

struct SocketEntry {
  Socket handle = kInvalidSocket;
  int fd = -1;
};

constinit SocketEntry g_sockets[64];
constinit std::uint32_t g_startups = 0;

int SocketFd(Socket socket) {
  const SocketEntry* entry = FindEntry(g_sockets, socket);
  return entry ? entry->fd : -1;
}

// ---- Serial state -----------------------------------------------------------

struct SerialEntry {
  SerialHandle handle = kInvalidSerialHandle;
  int fd = -1;
  SerialTimeouts timeouts{};  // POSIX keeps no time-outs with the device
};

constinit SerialEntry g_serial_ports[16];

struct DeviceRedirect {
  unsigned port = 0;  // 0: slot free (COM0 never opens)
  char path[PATH_MAX] = {};
};

constinit DeviceRedirect g_redirects[16];

// Accepts exactly "COM<n>", n >= 1 without leading zeros: the name the portable
// code builds with "COM%d".
bool ParsePortName(const char* name, unsigned* port) {
  if (name == nullptr || std::strncmp(name, "COM", 3) != 0) return false;
  const char* digit = name + 3;
  if (*digit < '1' || *digit > '9') return false;
  unsigned value = 0;
  for (; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || value > 65535u) return false;
    value = value * 10u + static_cast<unsigned>(*digit - '0');
  }
  *port = value;
  return true;
}

void DevicePathFor(unsigned port, char (&path)[PATH_MAX]) {
  for (const DeviceRedirect& redirect : g_redirects) {
    if (redirect.port == port) {
      std::memcpy(path, redirect.path, sizeof path);
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
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// The bits raw mode clears: no line editing, echo, signals, output processing,
// CR/NL translation, break handling, parity marking or stripping of bit 7.
constexpr tcflag_t kRawClearedInput = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY;
constexpr tcflag_t kRawClearedOutput = OPOST;
constexpr tcflag_t kRawClearedLocal = ECHO | ECHONL | ICANON | ISIG | IEXTEN;

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

bool ReadWithTimeouts(const SerialEntry& port, std::uint8_t* buffer, std::uint32_t count,
                      std::uint32_t* got) {
  if (count == 0) return true;
  const SerialTimeouts& limits = port.timeouts;
  const Micros start = NowUs();

  // Two special forms: an interval of MAXDWORD means "return as soon as
  // anything has arrived", either without waiting at all (totals 0) or after
  // waiting at most the constant for a first byte (per-byte MAXDWORD).
  bool return_on_any = false;
  Micros total_deadline = kNoDeadline;
  const bool special = limits.read_interval_ms == kMaxDword;
  if (special && limits.read_total_per_byte_ms == 0 && limits.read_total_constant_ms == 0) {
    return_on_any = true;
    total_deadline = start;
  } else if (special && limits.read_total_per_byte_ms == kMaxDword &&
             limits.read_total_constant_ms != 0 && limits.read_total_constant_ms != kMaxDword) {
    return_on_any = true;
    total_deadline = DeadlineAfterMs(start, limits.read_total_constant_ms);
  } else if (limits.read_total_per_byte_ms != 0 || limits.read_total_constant_ms != 0) {
    total_deadline = DeadlineAfterMs(
        start, std::uint64_t{limits.read_total_per_byte_ms} * count + limits.read_total_constant_ms);
  }
  const bool use_interval = !return_on_any && limits.read_interval_ms != 0;

  Micros last_byte = 0;
  bool stalled = false;  // poll said ready, yet the read brought nothing
  while (*got < count) {
    const ssize_t n = read(port.fd, buffer + *got, count - *got);
    if (n > 0) {
      *got += static_cast<std::uint32_t>(n);
      last_byte = NowUs();
      stalled = false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // With VMIN=0 an empty queue reads as 0 bytes, and so does a hung-up line.
    // EIO means the other side of a pseudo-terminal has gone. In every case
    // nothing is there now, and the time-outs decide how long to wait for more.
    if (n < 0 && errno != EAGAIN && errno != EIO) return false;
    if (return_on_any && *got > 0) break;

    Micros wake = total_deadline;
    if (use_interval && *got > 0) {
      wake = Earlier(wake, DeadlineAfterMs(last_byte, limits.read_interval_ms));
    }
    const Micros now = NowUs();
    if (wake != kNoDeadline && now >= wake) break;
    if (stalled) {
      // A hung-up device polls ready forever; pause instead of spinning.
      SleepUntil(Earlier(wake, now + 10'000u));
      stalled = false;
      continue;
    }
    const int events = WaitFor(port.fd, POLLIN, wake);
    if (events < 0) return false;
    stalled = events > 0;
  }
  return true;
}

bool WriteWithTimeouts(const SerialEntry& port, const std::uint8_t* data, std::uint32_t count,
                       std::uint32_t* sent) {
  if (count == 0) return true;
  const SerialTimeouts& limits = port.timeouts;
  const Micros deadline =
      limits.write_total_per_byte_ms == 0 && limits.write_total_constant_ms == 0
          ? kNoDeadline
          : DeadlineAfterMs(NowUs(), std::uint64_t{limits.write_total_per_byte_ms} * count +
                                         limits.write_total_constant_ms);
  while (*sent < count) {
    const ssize_t n = write(port.fd, data + *sent, count - *sent);
    if (n > 0) {
      *sent += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    // A hang-up shows as an event here and as EIO from the next write.
    const int events = WaitFor(port.fd, POLLOUT, deadline);
    if (events < 0) return false;
    if (events == 0) break;  // time-out: report what went out
  }
  return true;
}

}  // namespace

// ---- Socket layer -------------------------------------------------------------

bool SocketLayerStartup(SocketLayerVersion requested, SocketLayerVersion* granted) {
  if (granted == nullptr || requested.major == 0) return false;  // there is no 0.x
  const bool lower = requested.major < 2 || (requested.major == 2 && requested.minor < 2);
  *granted = lower ? requested : SocketLayerVersion{2, 2};
  ++g_startups;
  return true;
}

void SocketLayerCleanup() {
  if (g_startups == 0 || --g_startups != 0) return;
  for (SocketEntry& entry : g_sockets) {
    if (entry.fd < 0) continue;
    shutdown(entry.fd, SHUT_RDWR);
    close(entry.fd);
    entry = SocketEntry{};
  }
}

Socket SocketCreate() {
  if (g_startups == 0) return kInvalidSocket;
  SocketEntry* entry = FreeEntry(g_sockets);
  if (entry == nullptr) return kInvalidSocket;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalidSocket;
  entry->fd = fd;
  entry->handle = NewHandle(fd);
  return entry->handle;
}

void SocketShutdown(Socket socket) {
  const int fd = SocketFd(socket);
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

void SocketClose(Socket socket) {
  SocketEntry* entry = FindEntry(g_sockets, socket);
  if (entry == nullptr) return;  // stale or foreign: touch no descriptor
  close(entry->fd);
  *entry = SocketEntry{};
}

bool SocketSetBlocking(Socket socket, bool blocking) {
  const int fd = SocketFd(socket);
  if (fd < 0) return false;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, wanted) == 0;
}

ConnectResult SocketConnect(Socket socket, std::uint32_t address, std::uint16_t port) {
  const int fd = SocketFd(socket);
  if (fd < 0) return ConnectResult::kFailed;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = address;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return ConnectResult::kConnected;
  }
  // An interrupted connect carries on in the background, like a pending one.
  return errno == EINPROGRESS || errno == EINTR ? ConnectResult::kInProgress : ConnectResult::kFailed;
}

WaitResult SocketWaitConnected(Socket socket, std::uint32_t timeout_ms) {
  const int fd = SocketFd(socket);
  if (fd < 0) return WaitResult::kFailed;
  const int events = WaitFor(fd, POLLOUT, DeadlineAfterMs(NowUs(), timeout_ms));
  if (events < 0) return WaitResult::kFailed;
  if (events == 0) return WaitResult::kTimedOut;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
    return WaitResult::kFailed;
  }
  // A socket that never started a connect polls writable too; only one with a
  // peer is connected.
  sockaddr_in peer{};
  socklen_t peer_length = sizeof peer;
  return getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) == 0 ? WaitResult::kReady
                                                                                 : WaitResult::kFailed;
}

WaitResult SocketWaitReadable(Socket socket, std::uint32_t timeout_ms) {
  const int fd = SocketFd(socket);
  if (fd < 0) return WaitResult::kFailed;
  // POLLHUP and POLLERR count as ready: the receive that follows reports them.
  const int events = WaitFor(fd, POLLIN, DeadlineAfterMs(NowUs(), timeout_ms));
  if (events < 0 || (events & POLLNVAL) != 0) return WaitResult::kFailed;
  return events == 0 ? WaitResult::kTimedOut : WaitResult::kReady;
}

std::int32_t SocketSend(Socket socket, const std::uint8_t* data, std::uint32_t count) {
  const int fd = SocketFd(socket);
  if (fd < 0) return -1;
  const std::size_t length = count > INT32_MAX ? INT32_MAX : count;
  for (;;) {
    // MSG_NOSIGNAL: a peer that has gone must not raise SIGPIPE in the host.
    const ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<std::int32_t>(n);
    if (errno != EINTR) return -1;
  }
}

std::int32_t SocketReceive(Socket socket, std::uint8_t* buffer, std::uint32_t count) {
  const int fd = SocketFd(socket);
  if (fd < 0) return -1;
  const std::size_t length = count > INT32_MAX ? INT32_MAX : count;
  for (;;) {
    const ssize_t n = recv(fd, buffer, length, 0);
    if (n >= 0) return static_cast<std::int32_t>(n);
    if (errno != EINTR) return -1;
  }
}

void SocketSetReceiveBufferSize(Socket socket, std::uint32_t bytes) {
  const int fd = SocketFd(socket);
  if (fd < 0) return;
  const int size = bytes > INT_MAX ? INT_MAX : static_cast<int>(bytes);
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

std::uint32_t ParseIPv4Address(const char* text) {
  return text == nullptr ? kAddressNone : inet_addr(text);
}

// ---- Serial ports -------------------------------------------------------------

SerialHandle SerialOpen(const char* name) {
  unsigned port = 0;
  if (!ParsePortName(name, &port)) return kInvalidSerialHandle;
  SerialEntry* entry = FreeEntry(g_serial_ports);
  if (entry == nullptr) return kInvalidSerialHandle;
  char path[PATH_MAX];
  DevicePathFor(port, path);

  int fd = -1;
  do {
    fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kInvalidSerialHandle;
  // Only a terminal is a serial port. TIOCEXCL alone does not make the port
  // exclusive (root bypasses it), so a second open must also lose the lock.
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return kInvalidSerialHandle;
  }
  ioctl(fd, TIOCEXCL);

  // A free entry always holds zero time-outs: close resets the whole entry.
  entry->fd = fd;
  entry->handle = NewHandle(fd);
  return entry->handle;
}

bool SerialClose(SerialHandle port) {
  SerialEntry* entry = FindEntry(g_serial_ports, port);
  if (entry == nullptr) return false;
  const int fd = entry->fd;
  *entry = SerialEntry{};
  // The exclusive flag belongs to the device and outlives this descriptor when
  // someone else holds the device open; the lock is shared with forked
  // children. Give both back explicitly.
  ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
  // Linux releases the descriptor even when close reports EINTR.
  return close(fd) == 0 || errno == EINTR;
}

bool SerialGetLineSettings(SerialHandle port, LineSettings* settings) {
  const SerialEntry* entry = FindEntry(g_serial_ports, port);
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
  const bool odd = (line.c_cflag & PARODD) != 0;
  if ((line.c_cflag & PARENB) == 0) {
    result.parity = Parity::kNone;
  } else if ((line.c_cflag & CMSPAR) != 0) {
    result.parity = odd ? Parity::kMark : Parity::kSpace;
  } else {
    result.parity = odd ? Parity::kOdd : Parity::kEven;
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
  const SerialEntry* entry = FindEntry(g_serial_ports, port);
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
    case Parity::kMark: parity = PARENB | CMSPAR | PARODD; break;
    case Parity::kSpace: parity = PARENB | CMSPAR; break;
    default: return false;
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
  const SerialEntry* entry = FindEntry(g_serial_ports, port);
  if (entry == nullptr || timeouts == nullptr) return false;
  *timeouts = entry->timeouts;
  return true;
}

bool SerialSetTimeouts(SerialHandle port, const SerialTimeouts& timeouts) {
  SerialEntry* entry = FindEntry(g_serial_ports, port);
  if (entry == nullptr) return false;
  entry->timeouts = timeouts;
  return true;
}

bool SerialSetQueueSizes(SerialHandle port, std::uint32_t, std::uint32_t) {
  // The driver's queues have fixed sizes; only the handle can be wrong.
  return FindEntry(g_serial_ports, port) != nullptr;
}

bool SerialDiscardInput(SerialHandle port) {
  const SerialEntry* entry = FindEntry(g_serial_ports, port);
  return entry != nullptr && tcflush(entry->fd, TCIFLUSH) == 0;
}

bool SerialRead(SerialHandle port, std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
  std::uint32_t got = 0;
  const SerialEntry* entry = FindEntry(g_serial_ports, port);
  const bool ok = entry != nullptr && ReadWithTimeouts(*entry, buffer, count, &got);
  if (done != nullptr) *done = got;
  return ok;
}

bool SerialWrite(SerialHandle port, const std::uint8_t* data, std::uint32_t count, std::uint32_t* done) {
  std::uint32_t sent = 0;
  const SerialEntry* entry = FindEntry(g_serial_ports, port);
  const bool ok = entry != nullptr && WriteWithTimeouts(*entry, data, count, &sent);
  if (done != nullptr) *done = sent;
  return ok;
}

// ---- Time ---------------------------------------------------------------------

void SleepMs(std::uint32_t ms) {
  // An absolute deadline survives any number of signals without drifting.
  SleepUntil(NowUs() + std::uint64_t{ms} * 1000u);
}

std::uint64_t MonotonicMs() { return NowUs() / 1000u; }

// ---- Test hook ----------------------------------------------------------------

namespace testing {

void SetSerialDevicePath(unsigned port_number, const char* device_path) {
  if (port_number == 0) return;
  DeviceRedirect* slot = nullptr;
  for (DeviceRedirect& redirect : g_redirects) {
    if (redirect.port == port_number) slot = &redirect;
  }
  if (device_path == nullptr) {
    if (slot != nullptr) slot->port = 0;
    return;
  }
  if (slot == nullptr) {
    for (DeviceRedirect& redirect : g_redirects) {
      if (redirect.port == 0 && slot == nullptr) slot = &redirect;
    }
  }
  if (slot == nullptr) return;  // table full
  slot->port = port_number;
  // A path that does not fit is stored empty: the port then fails to open
  // instead of falling back to a real device.
  const std::size_t length = std::strlen(device_path);
  const std::size_t kept = length < sizeof slot->path ? length : 0;
  std::memcpy(slot->path, device_path, kept);
  slot->path[kept] = '\0';
}

}  // namespace testing

}  // namespace pq640::os
