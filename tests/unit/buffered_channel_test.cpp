// The byte channel's call pattern: a request frame leaves in as few writes as
// possible, a response is received ahead into a fixed buffer, and a failure in
// the middle of a buffered read or a gathered send gives the same codes as
// one call per field did.
#include "link/byte_channel.h"
#include "record_builders.h"

namespace pq640::test {
namespace {

class BufferedChannel : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    OpenTcp();
  }
};

Bytes HundredIoRecords() {
  Bytes payload = U32(100);
  for (int i = 0; i < 100; ++i) {
    const Bytes record = {26, 12, 8, 9, 0, static_cast<std::uint8_t>(i % 60), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    payload.insert(payload.end(), record.begin(), record.end());
  }
  return payload;
}

TEST_F(BufferedChannel, RequestIsOneSendCall) {
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(fake::CountCalls("SocketSend"), 1);
  EXPECT_EQ(fake::LastSocket().sent, RequestFrame(0, 1));
}

// Templates and ID lists are sent from the caller's records, not copied: a
// thousand two-template users leave in a handful of send calls.
TEST_F(BufferedChannel, LargeFieldsAreSentFromWhereTheCallerHoldsThem) {
  std::vector<PQ640_UserData> users;
  for (std::uint32_t id = 1; id <= 1000; ++id) users.push_back(MakeUser(id, 2, 10));
  AnswerOverTcp(ResponseFrame(0, 0, Bytes(1000, 0)));
  std::vector<std::uint8_t> results(1000);
  ASSERT_EQ(PQ640_AddUsersData(1000, users.data(), results.data(), nullptr), PQ640_OK);
  Bytes payload = U32(1000);
  for (const PQ640_UserData& u : users) {
    const Bytes wire = UserWire(u);
    payload.insert(payload.end(), wire.begin(), wire.end());
  }
  EXPECT_EQ(fake::LastSocket().sent, RequestFrame(0, 0x15, payload));
  // A full record is one run of its slot, so one slice a user.
  EXPECT_LE(fake::CountCalls("SocketSend"), 1000 / kSendGatherSlices + 2);
  EXPECT_TRUE(fake::LastSocket().no_delay);
}

TEST_F(BufferedChannel, LargeRequestLeavesInBufferSizedWrites) {
  std::vector<PQ640_UserData> users;
  for (std::uint32_t id = 1; id <= 10; ++id) users.push_back(MakeUser(id, 2, 10));
  AnswerOverTcp(ResponseFrame(0, 0, Bytes(10, 0)));
  std::uint8_t results[10];
  ASSERT_EQ(PQ640_AddUsersData(10, users.data(), results, nullptr), PQ640_OK);
  Bytes payload = U32(10);
  for (const PQ640_UserData& u : users) {
    const Bytes wire = UserWire(u);
    payload.insert(payload.end(), wire.begin(), wire.end());
  }
  const Bytes frame = RequestFrame(0, 0x15, payload);
  EXPECT_EQ(fake::LastSocket().sent, frame);
  EXPECT_LE(fake::CountCalls("SocketSend"), 2);
}

TEST_F(BufferedChannel, ResponseIsReceivedAhead) {
  AnswerOverTcp(ResponseFrame(0, 0, HundredIoRecords()));
  const PQ640_RecordQuery query{};
  PQ640_IORecord records[100];
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetIORecord(&query, &count, records, nullptr), PQ640_OK);
  EXPECT_EQ(count, 100u);
  const std::size_t bytes = ResponseFrame(0, 0, HundredIoRecords()).size();
  EXPECT_LE(fake::CountCalls("SocketReceive"), static_cast<int>((bytes + kReadAheadBytes - 1) / kReadAheadBytes + 2));
  // Each receive waits within itself: no readiness wait of its own.
  EXPECT_EQ(fake::CountCalls("SocketWaitReadable"), 0);
}

TEST_F(BufferedChannel, NothingReadAheadSurvivesTheConnection) {
  // A response with trailing garbage: it must not meet the next command.
  AnswerOverTcp(Concat({ResponseFrame(0, 0), {0x7F, 0x00, 0x00, 0x09, 0x09}}));
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  AnswerOverTcp(ResponseFrame(0, 0));
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(PQ640_ClosePort(), PQ640_OK);
  EXPECT_EQ(Port().read_ahead.begin, Port().read_ahead.end);
}

TEST_F(BufferedChannel, FailuresInTheMiddleOfABufferedRead) {
  const Bytes whole = ResponseFrame(0, 0, HundredIoRecords());
  const Bytes half(whole.begin(), whole.begin() + 800);
  struct Case {
    fake::InputEnd end;
    PQ640_ResultCode expected;
  };
  for (const Case& c : {Case{fake::InputEnd::kSilence, PQ640_TCP_FAILED},
                        Case{fake::InputEnd::kPeerClose, PQ640_READ_FAILED},
                        Case{fake::InputEnd::kReceiveError, PQ640_READ_FAILED},
                        Case{fake::InputEnd::kWaitError, PQ640_TCP_FAILED}}) {
    AnswerOverTcp(half).end = c.end;
    const PQ640_RecordQuery query{};
    PQ640_IORecord records[100];
    std::uint32_t count = 0;
    const std::uint64_t start = Now();
    EXPECT_EQ(PQ640_GetIORecord(&query, &count, records, nullptr), c.expected);
    // (800 - 8) / 16 whole records arrived before the cut.
    EXPECT_EQ(count, 49u);
    if (c.end == fake::InputEnd::kSilence) {
      EXPECT_EQ(Now() - start, 3000u);  // the first command: no reconnect pause, one wait
    }
  }
}

TEST_F(BufferedChannel, FailedOrShortGatheredSendEndsTheCommand) {
  fake::SocketScript failing;
  failing.fail_send = true;
  os().net.scripts.push_back(failing);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_SEND_FAILED);

  fake::SocketScript short_send;
  short_send.short_send_by = 1;
  os().net.scripts.push_back(short_send);
  std::vector<PQ640_UserData> users(5, MakeUser(1, 2, 10));
  std::uint8_t results[5];
  EXPECT_EQ(PQ640_AddUsersData(5, users.data(), results, nullptr), PQ640_SEND_FAILED);
  EXPECT_EQ(fake::CountCalls("SocketReceive"), 0);  // nothing was awaited
}

TEST_F(BufferedChannel, ZeroByteReadSucceedsAfterItsWait) {
  Port().tcp_socket = os::SocketCreate();
  Port().tcp_wait_ms = 3000;
  std::uint8_t none[1] = {};
  const std::uint64_t start = Now();
  EXPECT_EQ(ReceiveBytes(none, 0), PQ640_TCP_FAILED);  // nothing ever arrives
  EXPECT_EQ(Now() - start, 3000u);

  AnswerOverTcp({0x42});
  Port().tcp_socket = os::SocketCreate();
  EXPECT_EQ(ReceiveBytes(none, 0), PQ640_OK);
  EXPECT_EQ(fake::CountCalls("SocketReceive"), 0);
}

TEST_F(BufferedChannel, SerialRequestIsOneWriteAndReadsStayExact) {
  OpenSerial();
  AnswerOverSerial(ResponseFrame(0, 0, {26, 12, 8, 4, 11, 14}));
  PQ640_DateTime dt{};
  ASSERT_EQ(PQ640_GetDateTime(&dt), PQ640_OK);
  EXPECT_EQ(fake::CountCalls("SerialWrite"), 1);
  EXPECT_EQ(fake::LastSerialPort().written, RequestFrame(0, 8));
  // Reads ask for exactly what the frame needs next: start byte, ID, result, clock, trailer.
  EXPECT_EQ(fake::CountCalls("SerialRead"), 5);
}

}  // namespace
}  // namespace pq640::test
