// Exact byte counts over either link, the failure codes, and the running checksum.
#include "link/byte_channel.h"
#include "test_support.h"

namespace pq640::test {
namespace {

class ByteChannel : public LibraryTest {
 protected:
  // A connected TCP socket whose input is `input`.
  void ConnectTcp(const Bytes& input, fake::InputEnd end = fake::InputEnd::kSilence) {
    OpenTcp();
    fake::SocketScript script;
    if (!input.empty()) script.input.push_back({input, 0});
    script.end = end;
    os().net.scripts.push_back(std::move(script));
    Port().tcp_socket = os::SocketCreate();
    Port().tcp_wait_ms = 3000;
  }
};

TEST_F(ByteChannel, FixedWidthFormsAreLittleEndian) {
  ConnectTcp({});
  ASSERT_EQ(SendU16(0x0105), PQ640_OK);
  ASSERT_EQ(SendU32(1000), PQ640_OK);
  ASSERT_EQ(SendU8(0x1FF), PQ640_OK);  // only the low byte
  EXPECT_EQ(fake::LastSocket().sent, (Bytes{0x05, 0x01, 0xE8, 0x03, 0x00, 0x00, 0xFF}));
}

TEST_F(ByteChannel, ReceivesAssembleLittleEndian) {
  ConnectTcp({0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xAB});
  std::uint16_t u16 = 0;
  std::uint32_t u32 = 0;
  std::uint8_t u8 = 0;
  ASSERT_EQ(ReceiveU16(&u16), PQ640_OK);
  ASSERT_EQ(ReceiveU32(&u32), PQ640_OK);
  ASSERT_EQ(ReceiveU8(&u8), PQ640_OK);
  EXPECT_EQ(u16, 0x1234u);
  EXPECT_EQ(u32, 0x12345678u);
  EXPECT_EQ(u8, 0xABu);
}

TEST_F(ByteChannel, ChecksumFoldsSentAndReceivedBytesOnlyWhileOn) {
  ConnectTcp({0x34, 0x99});
  PortState& s = Port();
  s.checksum = 0x5A;
  s.checksum_enabled = true;
  ASSERT_EQ(SendU8(0x12), PQ640_OK);
  ASSERT_EQ(SendU8(0x34), PQ640_OK);
  std::uint8_t byte = 0;
  ASSERT_EQ(ReceiveU8(&byte), PQ640_OK);
  EXPECT_EQ(s.checksum, 0x5A ^ 0x12);

  s.checksum_enabled = false;
  ASSERT_EQ(SendU8(0x77), PQ640_OK);
  ASSERT_EQ(ReceiveU8(&byte), PQ640_OK);
  EXPECT_EQ(s.checksum, 0x5A ^ 0x12);
}

TEST_F(ByteChannel, FailedTransfersLeaveTheChecksumAlone) {
  ConnectTcp({});
  Port().checksum_enabled = true;
  Port().checksum = 0x11;
  fake::LastSocket().script.fail_send = true;
  EXPECT_EQ(SendU8(0x22), PQ640_SEND_FAILED);
  std::uint8_t byte = 0;
  EXPECT_EQ(ReceiveU8(&byte), PQ640_TCP_FAILED);
  EXPECT_EQ(Port().checksum, 0x11);
}

TEST_F(ByteChannel, TcpGuardsWithoutASocket) {
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
  std::uint8_t byte = 0;
  EXPECT_EQ(SendU8(1), PQ640_NO_SOCKET);
  EXPECT_EQ(ReceiveU8(&byte), PQ640_NO_SOCKET);
}

TEST_F(ByteChannel, TcpSendFailureAndShortSend) {
  ConnectTcp({});
  fake::LastSocket().script.short_send_by = 1;
  const std::uint8_t data[3] = {1, 2, 3};
  EXPECT_EQ(SendBytes(data, 3), PQ640_SEND_FAILED);
  fake::LastSocket().script.short_send_by = 0;
  fake::LastSocket().script.fail_send = true;
  EXPECT_EQ(SendBytes(data, 3), PQ640_SEND_FAILED);
}

TEST_F(ByteChannel, TcpReadGathersSplitChunks) {
  ConnectTcp({});
  auto& input = fake::LastSocket().script.input;
  input.push_back({{1, 2}, 0});
  input.push_back({{3}, 500});
  input.push_back({{4, 5}, 0});
  std::uint8_t buffer[5] = {};
  ASSERT_EQ(ReceiveBytes(buffer, 5), PQ640_OK);
  EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{1, 2, 3, 4, 5}));
}

TEST_F(ByteChannel, TcpWaitsAtMostTheWaitForTheFirstBytes) {
  ConnectTcp({});
  const std::uint64_t start = Now();
  std::uint8_t buffer[4];
  EXPECT_EQ(ReceiveBytes(buffer, 4), PQ640_TCP_FAILED);
  EXPECT_EQ(Now() - start, 3000u);
}

TEST_F(ByteChannel, TcpStallInTheMiddleEndsWithTheWaitFailure) {
  ConnectTcp({0xAA, 0xBB});
  const std::uint64_t start = Now();
  std::uint8_t buffer[6] = {};
  EXPECT_EQ(ReceiveBytes(buffer, 6), PQ640_TCP_FAILED);
  EXPECT_EQ(Now() - start, 3000u);
  EXPECT_EQ(buffer[0], 0xAA);  // what arrived stays in the buffer
  EXPECT_EQ(buffer[1], 0xBB);
}

TEST_F(ByteChannel, TcpCloseOrErrorInTheMiddleIsAReadFailure) {
  ConnectTcp({0xAA}, fake::InputEnd::kPeerClose);
  std::uint8_t buffer[3];
  EXPECT_EQ(ReceiveBytes(buffer, 3), PQ640_READ_FAILED);

  ConnectTcp({}, fake::InputEnd::kReceiveError);
  EXPECT_EQ(ReceiveBytes(buffer, 3), PQ640_READ_FAILED);

  ConnectTcp({}, fake::InputEnd::kWaitError);
  EXPECT_EQ(ReceiveBytes(buffer, 3), PQ640_TCP_FAILED);
}

TEST_F(ByteChannel, SerialGuardWithoutAPortNumber) {
  Port().serial_port = 0;
  std::uint8_t byte = 0;
  EXPECT_EQ(SendU8(1), PQ640_NO_SERIAL_PORT);
  EXPECT_EQ(ReceiveU8(&byte), PQ640_NO_SERIAL_PORT);
}

}  // namespace
}  // namespace pq640::test
