// The hook the platform runs when the library leaves the process: it closes
// the handles the opening process holds on both links, once, and nothing
// elsewhere. On Windows it runs inside DllMain, so closing is all it may do.
#include <string>
#include <vector>

#include "link/port_lifecycle.h"
#include "test_support.h"

namespace pq640::test {
namespace {

class UnloadHook : public LibraryTest {
 protected:
  // The serial port open, then TCP selected, opened and left connected by a
  // command: what a host that switched links holds when it unloads.
  void OpenBothLinks() {
    OpenSerial();
    OpenTcp();
    AnswerOverTcp(ResponseFrame(0, 0));
    ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
    ASSERT_EQ(fake::OpenSerialPorts(), 1);
    ASSERT_EQ(fake::OpenSockets(), 1);
    os().calls.clear();
  }
};

TEST_F(UnloadHook, OpeningThePortRegistersIt) {
  EXPECT_EQ(os().unload_handler, nullptr);
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
  ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
  EXPECT_EQ(os().unload_handler, &ClosePortsAtUnload);
  EXPECT_EQ(Port().opener_process, os().process_id);
}

TEST_F(UnloadHook, ClosesBothLinksWhicheverIsSelected) {
  OpenBothLinks();
  ClosePortsAtUnload();
  EXPECT_EQ(fake::OpenSerialPorts(), 0) << "the serial port stays locked";
  EXPECT_EQ(Port().serial_handle, os::kInvalidSerialHandle);
  EXPECT_EQ(fake::OpenSockets(), 0);
  EXPECT_EQ(Port().tcp_socket, os::kInvalidSocket);
  // Closing the handles is all: no shutdown, and the socket layer is not
  // stopped (under the loader lock that can deadlock, and a cleanup the
  // library does not owe would stop the host's sockets).
  const std::vector<std::string> closes = {
      "SerialClose(" + std::to_string(fake::LastSerialPort().handle) + ")",
      "SocketClose(" + std::to_string(fake::LastSocket().handle) + ")"};
  EXPECT_EQ(os().calls, closes);
  EXPECT_FALSE(fake::LastSocket().shut_down);
  EXPECT_EQ(os().net.startups, 1) << "the host's ClosePort balances the start-up, not the hook";

  // Serial selected again after the TCP command: the connection still goes.
  fake::Reset();
  ResetPortState();
  ASSERT_EQ(PQ640_SetTerminalIPAddr(kTestAddress), PQ640_OK);
  OpenBothLinks();
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, 1, 2), PQ640_OK);
  ClosePortsAtUnload();
  EXPECT_EQ(fake::OpenSerialPorts(), 0);
  EXPECT_EQ(fake::OpenSockets(), 0);
}

TEST_F(UnloadHook, DoesNothingInAnotherProcess) {
  OpenBothLinks();
  const std::uint32_t parent = os().process_id;
  os().process_id = parent + 1;  // a child forked from the host, exiting
  ClosePortsAtUnload();
  EXPECT_TRUE(os().calls.empty()) << os().calls.front();
  EXPECT_EQ(fake::OpenSerialPorts(), 1);
  EXPECT_FALSE(fake::LastSocket().shut_down);
  EXPECT_EQ(os().net.startups, 1);

  os().process_id = parent;  // the host itself still closes everything
  ClosePortsAtUnload();
  EXPECT_EQ(fake::OpenSerialPorts(), 0);
  EXPECT_EQ(fake::OpenSockets(), 0);
}

TEST_F(UnloadHook, TouchesNothingWhenNothingWasOpenedAndRunsOnce) {
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
  ClosePortsAtUnload();
  EXPECT_TRUE(os().calls.empty()) << "never opened: the host's socket layer is not ours to stop";

  OpenSerial();
  ClosePortsAtUnload();
  EXPECT_EQ(fake::CountCalls("SerialClose"), 1);
  os().calls.clear();
  ClosePortsAtUnload();
  EXPECT_TRUE(os().calls.empty());
}

}  // namespace
}  // namespace pq640::test
