// The serial link over a pseudo-terminal: exclusive open, the baud rate the
// library programs, and the read time-outs against a real clock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "sim_fixture.h"

namespace pq640::integration {
namespace {

using SerialLine = SimulatorTest;

TEST_F(SerialLine, OpensAtNineThousandSixHundredByDefault) {
  Connect(Link::kSerial);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(sim_.ObservedBaud(), 9600u);
}

TEST_F(SerialLine, BaudCodeOfTheLineSettingWordIsProgrammed) {
  const auto device = sim_.StartSerial();
  ASSERT_TRUE(device.has_value()) << sim_.LastError();
  os::testing::SetSerialDevicePath(kSimulatedComPort, device->c_str());
  ASSERT_EQ(PQ640_SetTerminalID(sim_.Model().TerminalId()), PQ640_OK);
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, kSimulatedComPort, 4), PQ640_OK);
  ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
  EXPECT_EQ(sim_.CurrentBaud(), 38400u);
}

TEST_F(SerialLine, UpdateCommStateMovesTheLocalPortAfterTheAnswer) {
  Connect(Link::kSerial);
  ASSERT_EQ(PQ640_UpdateCommState(3), PQ640_OK);
  EXPECT_EQ(sim_.ObservedBaud(), 9600u);  // the request went out at the old speed
  EXPECT_EQ(sim_.CurrentBaud(), 19200u);
  EXPECT_EQ(sim_.Snapshot().settings.comm_state, 3u);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(sim_.ObservedBaud(), 19200u);
}

TEST_F(SerialLine, SecondOpenOfALockedDeviceIsRefused) {
  const auto device = sim_.StartSerial();
  ASSERT_TRUE(device.has_value()) << sim_.LastError();
  const int holder = ::open(device->c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  os::testing::SetSerialDevicePath(kSimulatedComPort, device->c_str());
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, kSimulatedComPort, 2), PQ640_OK);
  EXPECT_EQ(PQ640_OpenPort(), PQ640_OPEN_FAILED);
  EXPECT_EQ(Port().serial_port, 0u);
  ::close(holder);
}

TEST_F(SerialLine, ReopenAfterCloseNeedsThePortSetAgain) {
  Connect(Link::kSerial);
  ASSERT_EQ(PQ640_ClosePort(), PQ640_OK);
  EXPECT_EQ(PQ640_ClosePort(), PQ640_CLOSE_FAILED);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_PORT_REFUSED);
  EXPECT_EQ(PQ640_OpenPort(), PQ640_OPEN_FAILED);
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, kSimulatedComPort, 2), PQ640_OK);
  ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
}

TEST_F(SerialLine, ThreeOfSixBytesThenSilenceIsAShortReadAfterTheGap) {
  Connect(Link::kSerial);
  pq640sim::Faults faults;
  faults.stall_after_bytes = 4 + 3;  // the header, then half of the six clock bytes
  sim_.SetFaults(faults);
  PQ640_DateTime clock{};
  ResultCode result = PQ640_OK;
  const long long ms = ElapsedMs([&] { result = PQ640_GetDateTime(&clock); });
  EXPECT_EQ(result, PQ640_SHORT_READ);
  EXPECT_GE(ms, 1900);  // the 2000 ms gap after the third byte ends the read
  EXPECT_LT(ms, 10000);
}

TEST_F(SerialLine, WakeUpReachesTheTerminalAndRestoresTheSpeed) {
  Connect(Link::kSerial);
  ASSERT_EQ(PQ640_UpdateCommState(4), PQ640_OK);
  ASSERT_EQ(sim_.CurrentBaud(), 38400u);
  const long long ms = ElapsedMs([] { EXPECT_EQ(PQ640_WakeUp(), PQ640_OK); });
  EXPECT_GE(ms, 2900);
  EXPECT_LT(ms, 20000);
  EXPECT_EQ(sim_.CurrentBaud(), 38400u);
  EXPECT_EQ(Port().comm_state, 4u);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);  // the zeros did not confuse the terminal
}

}  // namespace
}  // namespace pq640::integration
