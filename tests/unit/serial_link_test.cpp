// The serial link: open/close lifecycle, line settings and time-outs, the
// baud table, the wake-up sequence, and the serial side of a transaction.
#include <algorithm>

#include "link/byte_channel.h"
#include "link/serial_link.h"
#include "test_support.h"

namespace pq640::test {
namespace {

using SerialLink = LibraryTest;

TEST_F(SerialLink, OpenConfiguresThePort) {
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, 3, 4), PQ640_OK);
  ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
  const fake::FakeSerialPort& p = fake::LastSerialPort();
  EXPECT_EQ(p.name, "COM3");
  EXPECT_EQ(Port().serial_handle, p.handle);
  // 9600 at open, then the configured baud code 4.
  EXPECT_EQ(p.applied_bauds, (std::vector<std::uint32_t>{9600, 38400}));
  const os::LineSettings& s = p.settings;
  EXPECT_EQ(s.data_bits, 8);
  EXPECT_EQ(s.parity, os::Parity::kNone);
  EXPECT_EQ(s.stop_bits, os::StopBits::kOne);
  EXPECT_FALSE(s.xon_xoff_input);
  EXPECT_FALSE(s.null_strip);
  EXPECT_EQ(s.dtr, os::LineControl::kOn);
  EXPECT_EQ(s.rts, os::LineControl::kOn);
  EXPECT_EQ(p.timeouts.read_interval_ms, 2000u);
  EXPECT_EQ(p.timeouts.read_total_per_byte_ms, 100u);
  EXPECT_EQ(p.timeouts.read_total_constant_ms, 10000u);
  EXPECT_EQ(p.timeouts.write_total_per_byte_ms, 200u);
  EXPECT_EQ(p.timeouts.write_total_constant_ms, 2000u);
}

TEST_F(SerialLink, FailedOpenForgetsThePortNumber) {
  os().serial.fail_open = true;
  EXPECT_EQ(PQ640_OpenPort(), PQ640_OPEN_FAILED);
  EXPECT_EQ(Port().serial_port, 0u);
  EXPECT_EQ(Port().serial_handle, os::kInvalidSerialHandle);
}

TEST_F(SerialLink, RefusedSettingsOrTimeoutsCloseThePortAndKeepTheNumber) {
  os().serial.fail_set_line_settings = true;
  EXPECT_EQ(PQ640_OpenPort(), PQ640_PORT_REFUSED);
  EXPECT_FALSE(fake::LastSerialPort().open);
  EXPECT_EQ(Port().serial_port, 1u);
  EXPECT_EQ(Port().serial_handle, os::kInvalidSerialHandle);

  os().serial.fail_set_line_settings = false;
  os().serial.fail_set_timeouts = true;
  EXPECT_EQ(PQ640_OpenPort(), PQ640_PORT_REFUSED);
  EXPECT_FALSE(fake::LastSerialPort().open);
  EXPECT_EQ(Port().serial_port, 1u);
}

TEST_F(SerialLink, CloseTwiceThenReopenWithoutSettingThePort) {
  OpenSerial();
  EXPECT_EQ(PQ640_ClosePort(), PQ640_OK);
  EXPECT_FALSE(fake::LastSerialPort().open);
  EXPECT_EQ(Port().serial_port, 0u);
  EXPECT_EQ(PQ640_ClosePort(), PQ640_CLOSE_FAILED);
  EXPECT_EQ(PQ640_OpenPort(), PQ640_OPEN_FAILED);
  EXPECT_TRUE(fake::Called("SerialOpen(COM0)"));
}

TEST_F(SerialLink, FailedCloseKeepsTheHandle) {
  OpenSerial();
  os().serial.fail_close = true;
  EXPECT_EQ(PQ640_ClosePort(), PQ640_CLOSE_FAILED);
  EXPECT_NE(Port().serial_handle, os::kInvalidSerialHandle);
  EXPECT_EQ(Port().serial_port, 1u);
}

TEST_F(SerialLink, ReopenClosesTheOpenHandleFirst) {
  OpenSerial();
  const os::SerialHandle first = Port().serial_handle;
  ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
  EXPECT_FALSE(os().serial.ports[0].open);
  EXPECT_TRUE(os().serial.ports[1].open);
  EXPECT_NE(Port().serial_handle, first);
}

TEST_F(SerialLink, CommandsOnAPortThatIsNotOpenFailAtTheTimeoutStep) {
  EXPECT_EQ(PQ640_CheckLink(), PQ640_PORT_REFUSED);
  OpenSerial();
  ASSERT_EQ(PQ640_ClosePort(), PQ640_OK);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_PORT_REFUSED);
  EXPECT_TRUE(NothingSent());
}

TEST_F(SerialLink, BaudTable) {
  const std::uint32_t expected[16] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 9600,
                                      9600, 9600, 9600, 9600,  9600,  9600,  9600,   9600};
  for (std::uint32_t code = 0; code < 16; ++code) EXPECT_EQ(BaudRateOf(code), expected[code]);
}

TEST_F(SerialLink, ApplyBaudCodeProgramsThePortAndStoresTheWord) {
  OpenSerial();
  ASSERT_EQ(ApplyBaudCode(0x1F3), PQ640_OK);
  EXPECT_EQ(fake::LastSerialPort().settings.baud, 19200u);
  EXPECT_EQ(Port().comm_state, 0x1F3u);
  ASSERT_EQ(ApplyBaudCode(9), PQ640_OK);
  EXPECT_EQ(fake::LastSerialPort().settings.baud, 9600u);

  Port().serial_port = 0;
  EXPECT_EQ(ApplyBaudCode(3), PQ640_NO_SERIAL_PORT);
  EXPECT_EQ(Port().comm_state, 9u);
}

TEST_F(SerialLink, WakeUpSendsZerosAtNineThousandSixHundredThenRestores) {
  OpenSerial(1, 0x13);  // baud code 3
  const std::uint64_t start = Now();
  EXPECT_EQ(PQ640_WakeUp(), PQ640_OK);
  const fake::FakeSerialPort& p = fake::LastSerialPort();
  EXPECT_EQ(p.written, Bytes(2048, 0x00));
  EXPECT_EQ(Now() - start, 3000u);
  EXPECT_EQ(p.applied_bauds.back(), 19200u);
  EXPECT_EQ(p.applied_bauds[p.applied_bauds.size() - 2], 9600u);
  EXPECT_EQ(Port().comm_state, 0x13u);
  // Zeros first, then the pause, then the old speed.
  const auto& calls = os().calls;
  const auto write = std::find(calls.begin(), calls.end(), "SerialWrite(500,2048)");
  const auto sleep = std::find(calls.begin(), calls.end(), "SleepMs(3000)");
  ASSERT_NE(write, calls.end());
  ASSERT_NE(sleep, calls.end());
  EXPECT_LT(write, sleep);
}

TEST_F(SerialLink, WakeUpSucceedsWithoutAnOpenPortAndOnTcp) {
  EXPECT_EQ(PQ640_WakeUp(), PQ640_OK);
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
  os().calls.clear();
  EXPECT_EQ(PQ640_WakeUp(), PQ640_OK);
  EXPECT_TRUE(os().calls.empty());
}

TEST_F(SerialLink, TransactionBytesQueueSizesAndReadTimeout) {
  OpenSerial();
  ASSERT_EQ(PQ640_SetTerminalID(1), PQ640_OK);
  AnswerOverSerial(ResponseFrame(1, 0));
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  const fake::FakeSerialPort& p = fake::LastSerialPort();
  EXPECT_EQ(p.written, RequestFrame(1, 1));
  EXPECT_EQ(p.queue_in, 1024u);
  EXPECT_EQ(p.queue_out, 1024u);
  // The command's time-out replaces only the constant part.
  EXPECT_EQ(p.timeouts.read_total_constant_ms, 2000u);
  EXPECT_EQ(p.timeouts.read_interval_ms, 2000u);
  EXPECT_EQ(p.timeouts.read_total_per_byte_ms, 100u);
}

TEST_F(SerialLink, RefusedTimeoutsFailTheCommandBeforeSending) {
  OpenSerial();
  os().serial.fail_set_timeouts = true;
  EXPECT_EQ(PQ640_CheckLink(), PQ640_PORT_REFUSED);
  EXPECT_FALSE(fake::Called("SerialWrite"));
}

TEST_F(SerialLink, StaleInputIsDiscardedBeforeEveryRequest) {
  OpenSerial();
  ASSERT_EQ(PQ640_SetTerminalID(4), PQ640_OK);
  // A response from terminal 5 aborts the first exchange after its ID,
  // leaving its result byte and trailer in the input.
  AnswerOverSerial(ResponseFrame(5, 0));
  EXPECT_EQ(PQ640_CheckLink(), PQ640_WRONG_TERMINAL);
  ASSERT_FALSE(fake::LastSerialPort().input.empty());
  AnswerOverSerial(ResponseFrame(4, 9));
  EXPECT_EQ(PQ640_CheckLink(), 9);
  EXPECT_EQ(fake::LastSerialPort().discards, 2);
}

TEST_F(SerialLink, SomeBytesThenSilenceIsAShortReadAfterTheGap) {
  OpenSerial();
  // The start byte and ID arrive, then nothing: the 2-byte ID read is fine,
  // the result byte read gets nothing.
  AnswerOverSerial({0x7F, 0x00, 0x00});
  std::uint64_t start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
  EXPECT_EQ(Now() - start, 100u + 2000u);  // one byte's share plus the read time-out

  // Half of a two-byte ID: the read ends 2000 ms after the last byte.
  AnswerOverSerial({0x7F, 0x00});
  start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_SHORT_READ);
  EXPECT_EQ(Now() - start, 2000u);
}

TEST_F(SerialLink, NothingArrivingIsAReadFailureAfterTheTotalLimit) {
  OpenSerial();
  const std::uint64_t start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
  EXPECT_EQ(Now() - start, 2100u);
}

TEST_F(SerialLink, ReadCallFailure) {
  OpenSerial();
  os().serial.fail_read = true;
  EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
}

TEST_F(SerialLink, UnnoticedWriteFailureStillFoldsIntoTheChecksum) {
  OpenSerial();
  Port().checksum_enabled = true;
  Port().checksum = 0;
  fake::LastSerialPort().open = false;  // writes now fail in the platform
  const std::uint8_t data[2] = {0x0F, 0xF0};
  EXPECT_EQ(SendBytes(data, 2), PQ640_OK);
  EXPECT_EQ(Port().checksum, 0xFF);
}

}  // namespace
}  // namespace pq640::test
