// The setters that fill the port state before the port is opened.
#include <cstring>

#include "port/ipv4_address.h"
#include "test_support.h"

namespace pq640::test {
namespace {

using PortSettings = LibraryTest;

TEST_F(PortSettings, DefaultsOfAFreshLibrary) {
  ResetPortState();
  const PortState& s = Port();
  EXPECT_EQ(s.link_kind, LinkKind::kSerial);
  EXPECT_EQ(s.serial_port, 1u);
  EXPECT_EQ(s.comm_state, 2u);
  EXPECT_EQ(s.terminal_id, 0u);
  EXPECT_EQ(s.tcp_port, 7413u);
  EXPECT_EQ(s.tcp_socket, os::kInvalidSocket);
  EXPECT_EQ(s.serial_handle, os::kInvalidSerialHandle);
  EXPECT_STREQ(s.terminal_address, PQ640_DEFAULT_TERMINAL_ADDRESS);
  std::uint32_t parsed = 0;
  EXPECT_TRUE(ParseTerminalAddress(s.terminal_address, &parsed));
}

TEST_F(PortSettings, SerialArgumentsAreRangeChecked) {
  EXPECT_EQ(PQ640_SetPortAndCommState(0, 11, 2), PQ640_PORT_REFUSED);
  EXPECT_EQ(PQ640_SetPortAndCommState(0, 0, 2), PQ640_PORT_REFUSED);
  EXPECT_EQ(PQ640_SetPortAndCommState(0, 1, 7), PQ640_PORT_REFUSED);      // baud code 7
  EXPECT_EQ(PQ640_SetPortAndCommState(0, 1, 0x50), PQ640_PORT_REFUSED);   // field b = 5
  EXPECT_EQ(PQ640_SetPortAndCommState(0, 1, 0x180), PQ640_PORT_REFUSED);  // field c = 3
  EXPECT_EQ(PQ640_SetPortAndCommState(2, 1, 2), PQ640_PORT_REFUSED);      // no such link
  EXPECT_EQ(Port().serial_port, 1u);
  EXPECT_EQ(Port().comm_state, 2u);

  EXPECT_EQ(PQ640_SetPortAndCommState(0, 10, 6), PQ640_OK);
  EXPECT_EQ(Port().serial_port, 10u);
  EXPECT_EQ(Port().comm_state, 6u);
  // Highest accepted fields, and bits above 8 stored without a look.
  EXPECT_EQ(PQ640_SetPortAndCommState(0, 3, 0xFE00u | 0x100u | 0x40u | 6u), PQ640_OK);
  EXPECT_EQ(Port().comm_state, 0xFF46u);
}

TEST_F(PortSettings, TcpAcceptsAnyWordAndKeepsTheLow16Bits) {
  EXPECT_EQ(PQ640_SetPortAndCommState(1, 99, 0x12345), PQ640_OK);
  EXPECT_EQ(Port().link_kind, LinkKind::kTcp);
  EXPECT_EQ(Port().comm_state, 0x2345u);
  EXPECT_EQ(Port().serial_port, 1u);  // the port argument is ignored
}

TEST_F(PortSettings, TerminalIdUpTo255) {
  EXPECT_EQ(PQ640_SetTerminalID(255), PQ640_OK);
  EXPECT_EQ(Port().terminal_id, 255u);
  EXPECT_EQ(PQ640_SetTerminalID(256), PQ640_OUT_OF_RANGE);
  EXPECT_EQ(Port().terminal_id, 255u);
}

TEST_F(PortSettings, RejectedAddressesLeaveThePreviousOne) {
  ASSERT_EQ(PQ640_SetTerminalIPAddr("127.0.0.44"), PQ640_OK);
  EXPECT_EQ(PQ640_SetTerminalIPAddr(nullptr), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(PQ640_SetTerminalIPAddr(""), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(PQ640_SetTerminalIPAddr("not an address"), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(PQ640_SetTerminalIPAddr("255.255.255.255"), PQ640_INVALID_ARGUMENT);
  EXPECT_STREQ(Port().terminal_address, "127.0.0.44");
}

TEST_F(PortSettings, AddressBufferIsClearedAndStaysTerminated) {
  ASSERT_EQ(PQ640_SetTerminalIPAddr("127.100.100.100"), PQ640_OK);
  ASSERT_EQ(PQ640_SetTerminalIPAddr("127.0.0.1"), PQ640_OK);
  const char* stored = Port().terminal_address;
  EXPECT_STREQ(stored, "127.0.0.1");
  for (std::size_t i = std::strlen("127.0.0.1"); i < kTerminalAddressSize; ++i) {
    EXPECT_EQ(stored[i], '\0') << "byte " << i;
  }
}

}  // namespace
}  // namespace pq640::test
