// Serial ports against real pseudo-terminals: opening, line settings,
// time-outs and handles.
#include <cstdint>

#include <gtest/gtest.h>

#include "pseudo_terminal.h"

using namespace serial_test;

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
