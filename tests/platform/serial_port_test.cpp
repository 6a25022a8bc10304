// Serial ports against real pseudo-terminals: the library opens the slave
// through a redirected COM name, the test plays the terminal on the master.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "platform/os_posix_testing.h"
#include "platform/posix/drain.h"

namespace os = pq640::os;

namespace {

std::uint64_t NowMs(clockid_t clock = CLOCK_MONOTONIC) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
}

os::SerialTimeouts ReadLimits(std::uint32_t interval, std::uint32_t per_byte, std::uint32_t constant) {
  os::SerialTimeouts limits;
  limits.read_interval_ms = interval;
  limits.read_total_per_byte_ms = per_byte;
  limits.read_total_constant_ms = constant;
  return limits;
}

// A pseudo-terminal pair. The test also holds the slave open itself, to look at
// its termios and input queue.
struct PseudoTerminal {
  int master = -1;
  int slave = -1;
  std::string slave_path;

  PseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    const char* name = ptsname(master);
    if (name == nullptr) return;
    slave_path = name;
    slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~PseudoTerminal() {
    if (slave >= 0) close(slave);
    CloseMaster();
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool ok() const { return master >= 0 && slave >= 0; }
  void CloseMaster() {
    if (master >= 0) close(master);
    master = -1;
  }

  bool Send(const std::vector<std::uint8_t>& bytes) const {
    return write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Bytes waiting on the slave's input queue.
  int Queued() const {
    int count = -1;
    return ioctl(slave, FIONREAD, &count) == 0 ? count : -1;
  }

  // Waits (at most 3 s) until at least `count` bytes are queued on the slave.
  bool WaitQueued(int count) const {
    for (int i = 0; i < 300; ++i) {
      if (Queued() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Reads what the library sent until `count` bytes came or 3 s passed.
  std::vector<std::uint8_t> Receive(std::size_t count) const {
    std::vector<std::uint8_t> bytes;
    const std::uint64_t give_up = NowMs() + 3000;
    while (bytes.size() < count && NowMs() < give_up) {
      pollfd entry{master, POLLIN, 0};
      if (poll(&entry, 1, 100) != 1) continue;
      std::uint8_t chunk[4096];
      const std::size_t want = count - bytes.size() < sizeof chunk ? count - bytes.size() : sizeof chunk;
      const ssize_t n = read(master, chunk, want);
      if (n <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }
};

// A read or write that ignored its time-outs would wait forever on a silent
// line. After 4 s, longer than any bound here allows, the terminal sends and
// drains, so such a fault ends as a failed bound instead of a hang.
class Rescue {
 public:
  explicit Rescue(int master) : thread_([this, master] { Run(master); }) {}
  ~Rescue() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Rescue(const Rescue&) = delete;
  Rescue& operator=(const Rescue&) = delete;

 private:
  void Run(int master) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, std::chrono::seconds(4), [this] { return cancelled_; })) return;
    lock.unlock();
    const std::uint8_t filler[512] = {};
    if (write(master, filler, sizeof filler) < 0) return;
    const std::uint64_t give_up = NowMs() + 5000;
    while (NowMs() < give_up) {
      {
        std::lock_guard<std::mutex> check(mutex_);
        if (cancelled_) return;
      }
      pollfd entry{master, POLLIN, 0};
      std::uint8_t sink[65536];
      if (poll(&entry, 1, 50) == 1 && read(master, sink, sizeof sink) <= 0) return;
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool cancelled_ = false;
  std::thread thread_;
};

constexpr unsigned kPort = 7;
constexpr const char* kPortName = "COM7";

class SerialPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    os::testing::SetSerialDevicePath(kPort, pty_.slave_path.c_str());
    rescue_.emplace(pty_.master);
  }
  void TearDown() override {
    rescue_.reset();
    if (handle_ != os::kInvalidSerialHandle) os::SerialClose(handle_);
    os::testing::SetSerialDevicePath(kPort, nullptr);
  }

  // Opens COM7 and puts the line into the mode the serial link uses.
  ::testing::AssertionResult OpenRaw() {
    handle_ = os::SerialOpen(kPortName);
    if (handle_ == os::kInvalidSerialHandle) return ::testing::AssertionFailure() << "open failed";
    if (!os::SerialSetLineSettings(handle_, os::LineSettings{})) {
      return ::testing::AssertionFailure() << "line settings refused";
    }
    return ::testing::AssertionSuccess();
  }

  struct TimedRead {
    std::uint32_t done = 99;  // a read that does not report its count shows up
    std::uint64_t elapsed_ms = 0;
  };

  // One read of `count` bytes, timed on the monotonic clock.
  TimedRead ReadTimed(std::uint8_t* buffer, std::uint32_t count) {
    TimedRead read;
    const std::uint64_t start = NowMs();
    EXPECT_TRUE(os::SerialRead(handle_, buffer, count, &read.done));
    read.elapsed_ms = NowMs() - start;
    return read;
  }

  PseudoTerminal pty_;
  std::optional<Rescue> rescue_;  // after pty_: stops before the master closes
  os::SerialHandle handle_ = os::kInvalidSerialHandle;
};

}  // namespace

// ---- Opening --------------------------------------------------------------

TEST_F(SerialPort, OpenIsExclusiveUntilClosed) {
  handle_ = os::SerialOpen(kPortName);
  ASSERT_NE(handle_, os::kInvalidSerialHandle);
  EXPECT_EQ(os::SerialOpen(kPortName), os::kInvalidSerialHandle) << "second open of the same port";

  // The device is exclusive, whatever name leads to it.
  os::testing::SetSerialDevicePath(9, pty_.slave_path.c_str());
  EXPECT_EQ(os::SerialOpen("COM9"), os::kInvalidSerialHandle) << "second open through another name";
  os::testing::SetSerialDevicePath(9, nullptr);

  EXPECT_TRUE(os::SerialClose(handle_));
  EXPECT_FALSE(os::SerialClose(handle_)) << "closed twice";
  handle_ = os::SerialOpen(kPortName);
  EXPECT_NE(handle_, os::kInvalidSerialHandle) << "closing did not release the port";
}

TEST_F(SerialPort, OnlyComNamesOfExistingTerminalsOpen) {
  for (const char* name : {"", "COM", "COM0", "COM07", "com7", "COM7x", "COM-7", "LPT1", "/dev/ptmx"}) {
    EXPECT_EQ(os::SerialOpen(name), os::kInvalidSerialHandle) << '"' << name << '"';
  }
  EXPECT_EQ(os::SerialOpen(nullptr), os::kInvalidSerialHandle);

  os::testing::SetSerialDevicePath(8, "/nonexistent/pq640-no-such-tty");
  EXPECT_EQ(os::SerialOpen("COM8"), os::kInvalidSerialHandle) << "missing device";
  EXPECT_EQ(access("/nonexistent/pq640-no-such-tty", F_OK), -1) << "open created the device path";

  char file_path[] = "/tmp/pq640-not-a-tty-XXXXXX";
  const int file = mkstemp(file_path);
  ASSERT_GE(file, 0);
  os::testing::SetSerialDevicePath(8, file_path);
  EXPECT_EQ(os::SerialOpen("COM8"), os::kInvalidSerialHandle) << "a regular file is no serial port";
  os::testing::SetSerialDevicePath(8, nullptr);
  close(file);
  unlink(file_path);
}

TEST_F(SerialPort, RedirectionsAreFewAndShortAndRefusedOtherwise) {
  // The hook's table ships in the library, so it is small: ten ports, paths
  // under 64 bytes. A path too long is refused and the port then opens
  // nothing at all (never the real device the name would otherwise reach).
  const std::string longest = "/" + std::string(62, 'x');  // 63 bytes
  EXPECT_TRUE(os::testing::SetSerialDevicePath(8, longest.c_str()));
  const std::string too_long = "/dev/" + std::string(59, 'p');  // 64 bytes
  EXPECT_FALSE(os::testing::SetSerialDevicePath(8, too_long.c_str()));
  EXPECT_EQ(os::SerialOpen("COM8"), os::kInvalidSerialHandle);
  EXPECT_FALSE(os::testing::SetSerialDevicePath(0, pty_.slave_path.c_str()));

  // COM7 (the fixture's) and COM8 hold two slots; eight more fit, the next does not.
  for (unsigned port = 11; port < 19; ++port) {
    EXPECT_TRUE(os::testing::SetSerialDevicePath(port, pty_.slave_path.c_str())) << port;
  }
  EXPECT_FALSE(os::testing::SetSerialDevicePath(19, pty_.slave_path.c_str()));
  EXPECT_TRUE(os::testing::SetSerialDevicePath(8, nullptr));
  EXPECT_TRUE(os::testing::SetSerialDevicePath(19, pty_.slave_path.c_str())) << "a freed slot is reused";
  handle_ = os::SerialOpen("COM19");
  EXPECT_NE(handle_, os::kInvalidSerialHandle);
  for (unsigned port = 11; port < 20; ++port) os::testing::SetSerialDevicePath(port, nullptr);
}

// ---- Line settings ----------------------------------------------------------

TEST_F(SerialPort, LineSettingsAreAppliedToTheDeviceAndReadBack) {
  handle_ = os::SerialOpen(kPortName);
  ASSERT_NE(handle_, os::kInvalidSerialHandle);
  os::LineSettings before;
  ASSERT_TRUE(os::SerialGetLineSettings(handle_, &before));
  EXPECT_FALSE(before.binary) << "a fresh pseudo-terminal is in canonical mode";

  // A pseudo-terminal always runs 8 data bits without parity, so those two
  // stay at their defaults here.
  os::LineSettings wanted;
  wanted.baud = 19200;
  wanted.stop_bits = os::StopBits::kTwo;
  wanted.parity_check = true;
  wanted.cts_output_flow = true;
  wanted.xon_xoff_output = true;
  wanted.xon_xoff_input = true;
  ASSERT_TRUE(os::SerialSetLineSettings(handle_, wanted));

  os::LineSettings seen;
  ASSERT_TRUE(os::SerialGetLineSettings(handle_, &seen));
  EXPECT_EQ(seen.baud, 19200u);
  EXPECT_EQ(seen.data_bits, 8);
  EXPECT_EQ(seen.parity, os::Parity::kNone);
  EXPECT_EQ(seen.stop_bits, os::StopBits::kTwo);
  EXPECT_TRUE(seen.binary);
  EXPECT_TRUE(seen.parity_check);
  EXPECT_TRUE(seen.cts_output_flow);
  EXPECT_EQ(seen.rts, os::LineControl::kHandshake);
  EXPECT_TRUE(seen.xon_xoff_output);
  EXPECT_TRUE(seen.xon_xoff_input);

  termios line{};
  ASSERT_EQ(tcgetattr(pty_.slave, &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
  EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B19200));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_NE(line.c_cflag & CSTOPB, 0u);
  EXPECT_NE(line.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(line.c_iflag & (INPCK | IXON | IXOFF), static_cast<tcflag_t>(INPCK | IXON | IXOFF));
  EXPECT_EQ(line.c_iflag & (IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL), 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
  EXPECT_EQ(line.c_cc[VMIN], 0);
  EXPECT_EQ(line.c_cc[VTIME], 0);

  // The settings the serial link opens with: everything off again.
  ASSERT_TRUE(os::SerialSetLineSettings(handle_, os::LineSettings{}));
  ASSERT_TRUE(os::SerialGetLineSettings(handle_, &seen));
  EXPECT_EQ(seen.baud, 9600u);
  EXPECT_EQ(seen.data_bits, 8);
  EXPECT_EQ(seen.parity, os::Parity::kNone);
  EXPECT_EQ(seen.stop_bits, os::StopBits::kOne);
  EXPECT_FALSE(seen.parity_check);
  EXPECT_FALSE(seen.cts_output_flow);
  EXPECT_EQ(seen.rts, os::LineControl::kOn);
  EXPECT_EQ(seen.dtr, os::LineControl::kOn);
  EXPECT_FALSE(seen.xon_xoff_output);
  EXPECT_FALSE(seen.xon_xoff_input);
  ASSERT_EQ(tcgetattr(pty_.slave, &line), 0);
  EXPECT_EQ(line.c_iflag & (INPCK | IXON | IXOFF), 0u);
  EXPECT_EQ(line.c_cflag & (CRTSCTS | CSTOPB | PARENB), 0u);
}

TEST_F(SerialPort, EveryRateOfTheBaudTableRoundTrips) {
  handle_ = os::SerialOpen(kPortName);
  ASSERT_NE(handle_, os::kInvalidSerialHandle);
  const std::pair<std::uint32_t, speed_t> rates[] = {{2400, B2400},   {4800, B4800},   {9600, B9600},
                                                     {19200, B19200}, {38400, B38400}, {57600, B57600},
                                                     {115200, B115200}};
  for (const auto& [baud, speed] : rates) {
    os::LineSettings wanted;
    wanted.baud = baud;
    EXPECT_TRUE(os::SerialSetLineSettings(handle_, wanted)) << baud;
    termios line{};
    ASSERT_EQ(tcgetattr(pty_.slave, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), speed) << baud;
    os::LineSettings seen;
    ASSERT_TRUE(os::SerialGetLineSettings(handle_, &seen));
    EXPECT_EQ(seen.baud, baud);
  }
}

TEST_F(SerialPort, ParityReachesTheDeviceAsTheOddBit) {
  handle_ = os::SerialOpen(kPortName);
  ASSERT_NE(handle_, os::kInvalidSerialHandle);
  // A pseudo-terminal drops PARENB (and the C library may then report the
  // change as refused); PARODD stays, and it carries the kind.
  for (const auto& [parity, odd_bit] : {std::pair{os::Parity::kOdd, tcflag_t{PARODD}},
                                        std::pair{os::Parity::kEven, tcflag_t{0}},
                                        std::pair{os::Parity::kOdd, tcflag_t{PARODD}},
                                        std::pair{os::Parity::kNone, tcflag_t{0}}}) {
    os::LineSettings wanted;
    wanted.parity = parity;
    os::SerialSetLineSettings(handle_, wanted);
    termios line{};
    ASSERT_EQ(tcgetattr(pty_.slave, &line), 0);
    EXPECT_EQ(line.c_cflag & PARODD, odd_bit) << static_cast<int>(parity);
  }
}

TEST_F(SerialPort, UnsupportedLineSettingsAreRefusedAndChangeNothing) {
  handle_ = os::SerialOpen(kPortName);
  ASSERT_NE(handle_, os::kInvalidSerialHandle);
  os::LineSettings good;
  good.baud = 57600;
  ASSERT_TRUE(os::SerialSetLineSettings(handle_, good));

  os::LineSettings odd_rate = good;
  odd_rate.baud = 12345;
  os::LineSettings fast_rate = good;  // a real rate, but not one the link uses
  fast_rate.baud = 230400;
  os::LineSettings mark = good;
  mark.parity = os::Parity::kMark;
  os::LineSettings space = good;
  space.parity = os::Parity::kSpace;
  os::LineSettings four_bits = good;
  four_bits.data_bits = 4;
  os::LineSettings nine_bits = good;
  nine_bits.data_bits = 9;
  os::LineSettings one_and_half = good;
  one_and_half.stop_bits = os::StopBits::kOneAndHalf;
  os::LineSettings dtr_handshake = good;
  dtr_handshake.dtr = os::LineControl::kHandshake;
  for (const os::LineSettings& bad :
       {odd_rate, fast_rate, mark, space, four_bits, nine_bits, one_and_half, dtr_handshake}) {
    EXPECT_FALSE(os::SerialSetLineSettings(handle_, bad));
  }
  termios line{};
  ASSERT_EQ(tcgetattr(pty_.slave, &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B57600));
  EXPECT_EQ(line.c_cflag & (CSIZE | CSTOPB), static_cast<tcflag_t>(CS8));

  os::LineSettings seen;
  EXPECT_FALSE(os::SerialSetLineSettings(os::kInvalidSerialHandle, good));
  EXPECT_FALSE(os::SerialGetLineSettings(os::kInvalidSerialHandle, &seen));
}

TEST_F(SerialPort, RawModePassesEveryByteValueUnchangedBothWays) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(500, 10, 2000)));
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);

  ASSERT_TRUE(pty_.Send(all));
  std::vector<std::uint8_t> in(256);
  std::uint32_t done = 0;
  ASSERT_TRUE(os::SerialRead(handle_, in.data(), 256, &done));
  ASSERT_EQ(done, 256u);
  EXPECT_EQ(in, all);

  ASSERT_TRUE(os::SerialWrite(handle_, all.data(), 256, &done));
  EXPECT_EQ(done, 256u);
  EXPECT_EQ(pty_.Receive(256), all);
}

TEST_F(SerialPort, RawModeUndoesTranslationsTheLineWasLeftWith) {
  // Another program left the line translating case and line ends, echoing,
  // editing lines and taking XON/XOFF: the library's settings clear it all.
  termios left{};
  ASSERT_EQ(tcgetattr(pty_.slave, &left), 0);
  left.c_iflag |= IUCLC | ICRNL | INLCR | ISTRIP | IXON | IXANY | IMAXBEL;
  left.c_oflag |= OPOST | OLCUC | ONLCR | OCRNL | ONLRET;
  left.c_lflag |= ECHO | ECHOE | ECHONL | ICANON | ISIG | IEXTEN | XCASE;
  ASSERT_EQ(tcsetattr(pty_.slave, TCSANOW, &left), 0);

  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(500, 10, 2000)));
  os::LineSettings seen;
  ASSERT_TRUE(os::SerialGetLineSettings(handle_, &seen));
  EXPECT_TRUE(seen.binary);

  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(pty_.Send(all));
  std::vector<std::uint8_t> in(256);
  std::uint32_t done = 0;
  ASSERT_TRUE(os::SerialRead(handle_, in.data(), 256, &done));
  EXPECT_EQ(done, 256u);
  EXPECT_EQ(in, all);
  EXPECT_EQ(pty_.Queued(), 0) << "bytes were added on the way in";

  ASSERT_TRUE(os::SerialWrite(handle_, all.data(), 256, &done));
  EXPECT_EQ(done, 256u);
  EXPECT_EQ(pty_.Receive(256), all);
  pollfd more{pty_.master, POLLIN, 0};
  EXPECT_EQ(poll(&more, 1, 100), 0) << "bytes were added or echoed on the way out";
}

// ---- Time-outs and handles ----------------------------------------------------

TEST_F(SerialPort, TimeoutsAreKeptPerHandleAndFreshPortsStartAtZero) {
  PseudoTerminal other;
  ASSERT_TRUE(other.ok());
  os::testing::SetSerialDevicePath(8, other.slave_path.c_str());
  handle_ = os::SerialOpen(kPortName);
  const os::SerialHandle second = os::SerialOpen("COM8");
  os::testing::SetSerialDevicePath(8, nullptr);
  ASSERT_NE(handle_, os::kInvalidSerialHandle);
  ASSERT_NE(second, os::kInvalidSerialHandle);

  os::SerialTimeouts seen{1, 1, 1, 1, 1};
  ASSERT_TRUE(os::SerialGetTimeouts(handle_, &seen));
  EXPECT_EQ(seen.read_interval_ms, 0u);
  EXPECT_EQ(seen.read_total_per_byte_ms, 0u);
  EXPECT_EQ(seen.read_total_constant_ms, 0u);
  EXPECT_EQ(seen.write_total_per_byte_ms, 0u);
  EXPECT_EQ(seen.write_total_constant_ms, 0u);

  ASSERT_TRUE(os::SerialSetTimeouts(handle_, {2000, 100, 10000, 200, 2000}));
  ASSERT_TRUE(os::SerialSetTimeouts(second, {1, 2, 3, 4, 5}));
  ASSERT_TRUE(os::SerialGetTimeouts(handle_, &seen));
  EXPECT_EQ(seen.read_interval_ms, 2000u);
  EXPECT_EQ(seen.read_total_per_byte_ms, 100u);
  EXPECT_EQ(seen.read_total_constant_ms, 10000u);
  EXPECT_EQ(seen.write_total_per_byte_ms, 200u);
  EXPECT_EQ(seen.write_total_constant_ms, 2000u);
  ASSERT_TRUE(os::SerialGetTimeouts(second, &seen));
  EXPECT_EQ(seen.read_interval_ms, 1u);
  EXPECT_EQ(seen.write_total_constant_ms, 5u);
  EXPECT_TRUE(os::SerialClose(second));

  // A port opened again starts from zero.
  ASSERT_TRUE(os::SerialClose(handle_));
  handle_ = os::SerialOpen(kPortName);
  ASSERT_NE(handle_, os::kInvalidSerialHandle);
  ASSERT_TRUE(os::SerialGetTimeouts(handle_, &seen));
  EXPECT_EQ(seen.read_interval_ms, 0u);
  EXPECT_EQ(seen.read_total_constant_ms, 0u);
}

TEST_F(SerialPort, ClosedAndForgedHandlesAreRefusedEverywhere) {
  const os::SerialHandle closed = os::SerialOpen(kPortName);
  ASSERT_NE(closed, os::kInvalidSerialHandle);
  ASSERT_TRUE(os::SerialClose(closed));

  std::uint8_t byte = 0x55;
  for (const os::SerialHandle bogus : {closed, os::kInvalidSerialHandle, os::SerialHandle{pty_.slave}}) {
    os::SerialTimeouts limits;
    os::LineSettings settings;
    std::uint32_t done = 99;
    EXPECT_FALSE(os::SerialGetTimeouts(bogus, &limits));
    EXPECT_FALSE(os::SerialSetTimeouts(bogus, limits));
    EXPECT_FALSE(os::SerialGetLineSettings(bogus, &settings));
    EXPECT_FALSE(os::SerialSetQueueSizes(bogus, 1024, 1024));
    EXPECT_FALSE(os::SerialDiscardInput(bogus));
    EXPECT_FALSE(os::SerialRead(bogus, &byte, 1, &done));
    EXPECT_EQ(done, 0u);
    done = 99;
    EXPECT_FALSE(os::SerialWrite(bogus, &byte, 1, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(os::SerialClose(bogus));
  }
  // The forged handle was the test's own descriptor: still open.
  EXPECT_NE(fcntl(pty_.slave, F_GETFD), -1);

  handle_ = os::SerialOpen(kPortName);
  ASSERT_NE(handle_, os::kInvalidSerialHandle);
  EXPECT_TRUE(os::SerialSetQueueSizes(handle_, 1024, 1024));
}

// ---- Reading ------------------------------------------------------------------

TEST_F(SerialPort, SilenceAfterTheFirstBytesEndsTheReadAfterTheInterval) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(300, 0, 10000)));
  ASSERT_TRUE(pty_.Send({0x7F, 0x01, 0x00}));

  std::uint8_t in[6] = {};
  const auto [done, elapsed] = ReadTimed(in, 6);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(in[0], 0x7F);
  EXPECT_EQ(in[1], 0x01);
  EXPECT_GE(elapsed, 280u);
  EXPECT_LE(elapsed, 3000u);
}

TEST_F(SerialPort, NothingArrivingEndsTheReadAfterTheTotalLimit) {
  ASSERT_TRUE(OpenRaw());
  // 10 ms per byte for 6 bytes plus 300 ms: 360 ms.
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(0, 10, 300)));
  std::uint8_t in[6];
  const auto [done, elapsed] = ReadTimed(in, 6);
  EXPECT_EQ(done, 0u);
  EXPECT_GE(elapsed, 340u) << "the per-byte part of the limit was left out";
  EXPECT_LE(elapsed, 3000u);
}

TEST_F(SerialPort, TheIntervalDoesNotRunBeforeTheFirstByte) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(100, 0, 600)));
  std::uint8_t in[4];
  const auto [done, elapsed] = ReadTimed(in, 4);
  EXPECT_EQ(done, 0u);
  EXPECT_GE(elapsed, 580u);
  EXPECT_LE(elapsed, 3000u);
}

TEST_F(SerialPort, BytesAlreadyQueuedAreReturnedAtOnce) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(2000, 100, 10000)));
  ASSERT_TRUE(pty_.Send({1, 2, 3, 4, 5, 6}));
  ASSERT_TRUE(pty_.WaitQueued(6));

  std::uint8_t in[6] = {};
  std::uint32_t done = 0;
  std::uint64_t start = NowMs();
  EXPECT_TRUE(os::SerialRead(handle_, in, 4, &done));
  EXPECT_EQ(done, 4u);
  EXPECT_LT(NowMs() - start, 1000u);
  EXPECT_EQ(pty_.Queued(), 2) << "a read took more than it was asked for";

  start = NowMs();
  EXPECT_TRUE(os::SerialRead(handle_, in, 2, &done));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(in[0], 5);
  EXPECT_EQ(in[1], 6);
  EXPECT_LT(NowMs() - start, 1000u);

  EXPECT_TRUE(os::SerialRead(handle_, in, 0, &done));
  EXPECT_EQ(done, 0u);
}

TEST_F(SerialPort, EachByteRestartsTheInterval) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(400, 0, 10000)));
  std::thread terminal([this] {
    for (std::uint8_t byte = 1; byte <= 4; ++byte) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      pty_.Send({byte});
    }
  });
  std::uint8_t in[4] = {};
  const auto [done, elapsed] = ReadTimed(in, 4);
  terminal.join();
  EXPECT_EQ(done, 4u) << "the interval ran from the first byte, not the latest";
  EXPECT_EQ(in[3], 4);
  EXPECT_LE(elapsed, 3000u);
}

TEST_F(SerialPort, ZeroTimeoutsWaitForEveryByte) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(0, 0, 0)));
  std::thread terminal([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pty_.Send({1, 2});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pty_.Send({3, 4});
  });
  std::uint8_t in[4] = {};
  const auto [done, elapsed] = ReadTimed(in, 4);
  terminal.join();
  EXPECT_EQ(done, 4u);
  EXPECT_GE(elapsed, 550u);
  EXPECT_LE(elapsed, 3000u);
}

TEST_F(SerialPort, DiscardInputDropsPendingBytes) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(0, 0, 200)));
  ASSERT_TRUE(pty_.Send({1, 2, 3, 4}));
  ASSERT_TRUE(pty_.WaitQueued(4));
  EXPECT_TRUE(os::SerialDiscardInput(handle_));
  EXPECT_EQ(pty_.Queued(), 0);

  std::uint8_t in[4] = {};
  std::uint32_t done = 99;
  EXPECT_TRUE(os::SerialRead(handle_, in, 4, &done));
  EXPECT_EQ(done, 0u);

  ASSERT_TRUE(pty_.Send({5, 6}));
  EXPECT_TRUE(os::SerialRead(handle_, in, 2, &done));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(in[0], 5);
}

TEST_F(SerialPort, AHungUpLineEndsReadsByTimeOutWithoutSpinning) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, {0, 0, 300, 0, 300}));
  rescue_.reset();  // it needs the master, which this test closes
  pty_.CloseMaster();

  std::uint8_t in[4];
  std::uint32_t done = 99;
  const std::uint64_t start = NowMs();
  const std::uint64_t cpu_start = NowMs(CLOCK_PROCESS_CPUTIME_ID);
  EXPECT_TRUE(os::SerialRead(handle_, in, 4, &done));
  const std::uint64_t elapsed = NowMs() - start;
  const std::uint64_t cpu = NowMs(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
  EXPECT_EQ(done, 0u);
  EXPECT_GE(elapsed, 280u);
  EXPECT_LE(elapsed, 3000u);
  EXPECT_LT(cpu, elapsed / 2) << "the read spun on the hung-up line";

  const std::uint8_t out[2] = {1, 2};
  EXPECT_FALSE(os::SerialWrite(handle_, out, 2, &done)) << "writing to a line nobody holds";
  EXPECT_TRUE(os::SerialClose(handle_));
  handle_ = os::kInvalidSerialHandle;
}

// ---- Writing ------------------------------------------------------------------

TEST_F(SerialPort, WritesEverythingWhenTheLineDrains) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, {0, 0, 0, 200, 2000}));
  const std::vector<std::uint8_t> request = {0x00, 0x7F, 0x01, 0x00, 0x08, 0x0A, 0x0D};
  std::uint32_t done = 0;
  EXPECT_TRUE(os::SerialWrite(handle_, request.data(), static_cast<std::uint32_t>(request.size()), &done));
  EXPECT_EQ(done, request.size());
  EXPECT_EQ(pty_.Receive(request.size()), request);
}

TEST_F(SerialPort, AWriteThatCannotDrainEndsAtTheTotalLimit) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, {0, 0, 0, 0, 300}));
  // Far more than the pseudo-terminal buffers while nobody reads the master.
  const std::vector<std::uint8_t> flood(1u << 20, 0x55);
  std::uint32_t done = 0;
  const std::uint64_t start = NowMs();
  EXPECT_TRUE(os::SerialWrite(handle_, flood.data(), static_cast<std::uint32_t>(flood.size()), &done));
  const std::uint64_t elapsed = NowMs() - start;
  EXPECT_GT(done, 0u);
  EXPECT_LT(done, flood.size());
  EXPECT_GE(elapsed, 280u);
  EXPECT_LE(elapsed, 3000u);
}

// ---- Waiting for the output queue --------------------------------------------
// A pseudo-terminal's output queue always reads empty, so the wait is checked
// against a scripted queue, on the real clock.

TEST(OutputDrain, WaitsUntilTheQueueEmpties) {
  int looks = 0;
  const std::uint64_t start = NowMs();
  const std::uint32_t left = os::posix::WaitForDrain(
      [&looks] { return ++looks < 5 ? 100L : 0L; },
      os::posix::DeadlineAfterMs(os::posix::NowUs(), 3000));
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(looks, 5);
  EXPECT_GE(NowMs() - start, 15u) << "looked again without pausing";
  EXPECT_LT(NowMs() - start, 2000u);
}

TEST(OutputDrain, AQueueThatNeverEmptiesEndsAtTheDeadline) {
  const std::uint64_t start = NowMs();
  const std::uint32_t left = os::posix::WaitForDrain(
      [] { return 42L; }, os::posix::DeadlineAfterMs(os::posix::NowUs(), 300));
  const std::uint64_t elapsed = NowMs() - start;
  EXPECT_EQ(left, 42u) << "the bytes still waiting are reported";
  EXPECT_GE(elapsed, 290u);
  EXPECT_LT(elapsed, 3000u);
}

TEST(OutputDrain, ADeviceThatCannotTellIsNotWaitedFor) {
  int looks = 0;
  const std::uint64_t start = NowMs();
  EXPECT_EQ(os::posix::WaitForDrain([&looks] { ++looks; return -1L; },
                                    os::posix::DeadlineAfterMs(os::posix::NowUs(), 3000)),
            0u);
  EXPECT_EQ(looks, 1);
  EXPECT_LT(NowMs() - start, 1000u);
}
