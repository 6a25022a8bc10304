// Terminal control, clock and settings-block commands: argument checks that
// return before anything is sent, exact payloads, and checks of what is read.
#include <cstring>
#include <string>

#include "commands/calendar.h"
#include "commands/system_data_rules.h"
#include "link/byte_channel.h"
#include "test_support.h"

namespace pq640::test {
namespace {

class Commands : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    OpenTcp();
  }
  const Bytes& Sent() { return fake::LastSocket().sent; }
};

PQ640_DateTime Dt(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return {static_cast<std::uint8_t>(y),  static_cast<std::uint8_t>(mo), static_cast<std::uint8_t>(d),
          static_cast<std::uint8_t>(h),  static_cast<std::uint8_t>(mi), static_cast<std::uint8_t>(s)};
}

void PutU32(PQ640_SystemData& block, int offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) block.bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A block that satisfies every rule, with the group heads at their maximum.
PQ640_SystemData ValidBlock() {
  PQ640_SystemData block{};
  PutU32(block, 32, 10);
  PutU32(block, 40, 1000);
  PutU32(block, 48, 1000);
  PutU32(block, 56, 50000);
  return block;
}

// ---- Calendar ---------------------------------------------------------------

TEST(Calendar, LeapYears) {
  EXPECT_TRUE(IsValidDateTime(Dt(0, 2, 29)));   // 2000: divisible by 400
  EXPECT_FALSE(IsValidDateTime(Dt(1, 2, 29)));
  EXPECT_TRUE(IsValidDateTime(Dt(4, 2, 29)));
  EXPECT_FALSE(IsValidDateTime(Dt(99, 2, 29)));
  EXPECT_TRUE(IsValidDateTime(Dt(1, 2, 28)));
}

TEST(Calendar, MonthLengthsAndRanges) {
  EXPECT_FALSE(IsValidDateTime(Dt(26, 4, 31)));
  EXPECT_TRUE(IsValidDateTime(Dt(26, 12, 31, 23, 59, 59)));
  EXPECT_FALSE(IsValidDateTime(Dt(26, 0, 1)));
  EXPECT_FALSE(IsValidDateTime(Dt(26, 13, 1)));
  EXPECT_FALSE(IsValidDateTime(Dt(26, 1, 0)));
  EXPECT_FALSE(IsValidDateTime(Dt(26, 1, 1, 24)));
  EXPECT_FALSE(IsValidDateTime(Dt(26, 1, 1, 0, 60)));
  EXPECT_FALSE(IsValidDateTime(Dt(26, 1, 1, 0, 0, 60)));
  EXPECT_FALSE(IsValidDateTime(Dt(100, 1, 1)));
  EXPECT_TRUE(IsValidDateTime(Dt(99, 1, 1)));
}

TEST(Calendar, BytesAreSigned) {
  EXPECT_FALSE(IsValidDateTime(Dt(0x80, 1, 1)));
  EXPECT_FALSE(IsValidDateTime(Dt(0, 1, 1, 0xFF)));
  EXPECT_FALSE(IsValidDate(-1, 1, 1));
}

// ---- Settings-block rules -----------------------------------------------------

TEST(SystemDataRules, GroupsAndLimits) {
  PQ640_SystemData block = ValidBlock();
  EXPECT_EQ(CheckSystemData(block, Direction::kWriting), PQ640_OK);
  PutU32(block, 36, 10);
  PutU32(block, 68, 10);
  EXPECT_EQ(CheckSystemData(block, Direction::kWriting), PQ640_OK);
  PutU32(block, 68, 11);
  EXPECT_EQ(CheckSystemData(block, Direction::kWriting), PQ640_OUT_OF_RANGE);
  EXPECT_EQ(CheckSystemData(block, Direction::kReading), PQ640_INVALID_ARGUMENT);
}

TEST(SystemDataRules, EachRuleRejects) {
  struct Case {
    int offset;
    int width;
    std::uint32_t value;
  };
  const Case bad[] = {{0, 1, 31},   {1, 1, 2},     {2, 1, 3},      {4, 2, 100},
                      {32, 4, 0},   {32, 4, 11},   {36, 4, 11},    {40, 4, 1001},
                      {44, 4, 1001}, {64, 4, 1001}, {48, 4, 1001}, {52, 4, 1001},
                      {56, 4, 50001}, {60, 4, 50001}};
  for (const Case& c : bad) {
    PQ640_SystemData block = ValidBlock();
    for (int i = 0; i < c.width; ++i) block.bytes[c.offset + i] = static_cast<std::uint8_t>(c.value >> (8 * i));
    EXPECT_EQ(CheckSystemData(block, Direction::kWriting), PQ640_OUT_OF_RANGE) << "offset " << c.offset;
  }
}

TEST(SystemDataRules, LaterFieldsAreBoundByTheirGroupHead) {
  PQ640_SystemData block = ValidBlock();
  PutU32(block, 40, 5);
  PutU32(block, 44, 6);
  EXPECT_EQ(CheckSystemData(block, Direction::kWriting), PQ640_OUT_OF_RANGE);
  PutU32(block, 44, 5);
  PutU32(block, 56, 50000);
  PutU32(block, 60, 50000);
  EXPECT_EQ(CheckSystemData(block, Direction::kWriting), PQ640_OK);
}

TEST(SystemDataRules, UncheckedBytesAreFree) {
  PQ640_SystemData block = ValidBlock();
  block.bytes[3] = 0xFF;
  std::memset(block.bytes + 6, 0xFF, 26);
  std::memset(block.bytes + 72, 0xFF, 256 - 72);
  EXPECT_EQ(CheckSystemData(block, Direction::kWriting), PQ640_OK);
}

// ---- Header-only helpers for hosts ---------------------------------------------

TEST(HeaderHelpers, BrokenRuleNamesTheOffsetAndTheLimitInForce) {
  PQ640_SystemData block = ValidBlock();
  EXPECT_EQ(PQ640_BrokenSystemDataRule(&block), nullptr);
  PutU32(block, 40, 7);
  PutU32(block, 44, 8);
  const PQ640_SystemDataRule* rule = PQ640_BrokenSystemDataRule(&block);
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(rule->offset, 44);
  EXPECT_EQ(rule->limit_offset, 40);
  EXPECT_EQ(PQ640_SystemDataRuleHigh(&block, rule), 7u);
  // The first rule in table order is reported when several break.
  block.bytes[0] = 31;
  rule = PQ640_BrokenSystemDataRule(&block);
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(rule->offset, 0);
  EXPECT_EQ(PQ640_SystemDataRuleHigh(&block, rule), 30u);
}

TEST(HeaderHelpers, ResultTextCoversEveryLibraryCode) {
  const PQ640_ResultCode codes[] = {0, 242, 243, -1, -2, -3, -4, -10, -12, -13, -14, -100, -101, -102, -104};
  const std::string unknown = PQ640_ResultText(-5);
  const std::string terminal = PQ640_ResultText(7);
  EXPECT_EQ(terminal, PQ640_ResultText(1));
  EXPECT_EQ(terminal, PQ640_ResultText(255));
  EXPECT_EQ(unknown, PQ640_ResultText(256));
  for (const PQ640_ResultCode code : codes) {
    EXPECT_NE(PQ640_ResultText(code), unknown) << code;
    EXPECT_NE(PQ640_ResultText(code), terminal) << code;
  }
}

// ---- Control ----------------------------------------------------------------

TEST_F(Commands, ArgumentChecksSendNothing) {
  EXPECT_EQ(PQ640_UpdateCommState(5), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(PQ640_UpdateCommState(0x100), PQ640_INVALID_ARGUMENT);  // field c = 2
  EXPECT_EQ(PQ640_UpdateCommState(0x50), PQ640_INVALID_ARGUMENT);   // field b = 5
  EXPECT_EQ(PQ640_ChangeTerminalID(256), PQ640_OUT_OF_RANGE);
  EXPECT_EQ(PQ640_SetTermCommMode(3), PQ640_OUT_OF_RANGE);
  const PQ640_DateTime bad_clock = Dt(26, 2, 30);
  EXPECT_EQ(PQ640_SetDateTime(&bad_clock), PQ640_INVALID_ARGUMENT);
  PQ640_SystemData bad_block = ValidBlock();
  PutU32(bad_block, 32, 0);
  EXPECT_EQ(PQ640_SetSystemData(&bad_block), PQ640_OUT_OF_RANGE);
  EXPECT_TRUE(NothingSent());
  EXPECT_EQ(Port().terminal_id, 0u);
}

TEST_F(Commands, UpdateCommStateSendsTheWordAndFollowsLocally) {
  AnswerOverTcp(ResponseFrame(0, 0));
  // Highest accepted fields plus unchecked high bits, which are sent too.
  ASSERT_EQ(PQ640_UpdateCommState(0x10000u | 0x8000u | 0x80u | 0x40u | 3u), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0, {0xC3, 0x80}));
  // On TCP the word is stored while a serial port number is configured.
  EXPECT_EQ(Port().comm_state, 0x80C3u);
}

TEST_F(Commands, UpdateCommStateOnTcpWithoutAPortNumberStoresNothing) {
  Port().serial_port = 0;
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_UpdateCommState(3), PQ640_OK);
  EXPECT_EQ(Port().comm_state, 2u);
}

TEST_F(Commands, UpdateCommStateRefusedKeepsTheWord) {
  AnswerOverTcp(ResponseFrame(0, 6));
  EXPECT_EQ(PQ640_UpdateCommState(3), 6);
  EXPECT_EQ(Port().comm_state, 2u);
}

TEST_F(Commands, ChangeTerminalIdExpectsTheOldIdThenUsesTheNewOne) {
  ASSERT_EQ(PQ640_SetTerminalID(2), PQ640_OK);
  AnswerOverTcp(ResponseFrame(2, 0));
  ASSERT_EQ(PQ640_ChangeTerminalID(9), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(2, 15, {0x09, 0x00}));
  EXPECT_EQ(Port().terminal_id, 9u);

  AnswerOverTcp(ResponseFrame(9, 0));
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(9, 1));
}

TEST_F(Commands, ChangeTerminalIdRefusedKeepsTheOldId) {
  ASSERT_EQ(PQ640_SetTerminalID(2), PQ640_OK);
  AnswerOverTcp(ResponseFrame(2, 1));
  EXPECT_EQ(PQ640_ChangeTerminalID(9), 1);
  EXPECT_EQ(Port().terminal_id, 2u);
}

TEST_F(Commands, OneBytePayloads) {
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_SetTermCommMode(2), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 12, {0x02}));
  EXPECT_EQ(Port().tcp_wait_ms, 4000u);

  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_SetMatchingPerform(0xC8), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 14, {0xC8}));
}

TEST_F(Commands, DeleteAllDataRomSendsTheConfirmationWord) {
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_DeleteAllDataRom(), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0xE0, {0x44, 0x65, 0x6C, 0x65, 0x74, 0x65}));
  EXPECT_EQ(Port().tcp_wait_ms, 26000u);
}

// ---- Clock ------------------------------------------------------------------

TEST_F(Commands, GetDateTimeReadsSixBytes) {
  AnswerOverTcp(ResponseFrame(0, 0, {26, 12, 8, 4, 11, 14}));
  PQ640_DateTime dt{};
  ASSERT_EQ(PQ640_GetDateTime(&dt), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 8));
  EXPECT_EQ(dt.year, 26);
  EXPECT_EQ(dt.month, 12);
  EXPECT_EQ(dt.day, 8);
  EXPECT_EQ(dt.hour, 4);
  EXPECT_EQ(dt.minute, 11);
  EXPECT_EQ(dt.second, 14);
}

TEST_F(Commands, InvalidClockFromTheTerminalIsCheckedAfterTheTrailer) {
  AnswerOverTcp(ResponseFrame(0, 0, {26, 13, 8, 4, 11, 14}));
  PQ640_DateTime dt{};
  EXPECT_EQ(PQ640_GetDateTime(&dt), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(dt.month, 13);  // the buffer holds what was sent

  // With a bad trailer too, the checksum is what fails.
  Bytes corrupted = ResponseFrame(0, 0, {26, 13, 8, 4, 11, 14});
  corrupted.back() ^= 0x01;
  AnswerOverTcp(corrupted);
  EXPECT_EQ(PQ640_GetDateTime(&dt), PQ640_BAD_CHECKSUM);
}

TEST_F(Commands, GetDateTimeFailureResultByte) {
  AnswerOverTcp(ResponseFrame(0, 3));
  PQ640_DateTime dt = Dt(1, 1, 1);
  EXPECT_EQ(PQ640_GetDateTime(&dt), 3);
  EXPECT_EQ(dt.year, 1);
}

TEST_F(Commands, SetDateTimeSendsSixBinaryBytes) {
  AnswerOverTcp(ResponseFrame(0, 0));
  const PQ640_DateTime dt = Dt(0, 2, 29, 23, 59, 58);
  ASSERT_EQ(PQ640_SetDateTime(&dt), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 9, {0, 2, 29, 23, 59, 58}));
}

// ---- Settings block -----------------------------------------------------------

TEST_F(Commands, SetSystemDataSendsTheWholeBlock) {
  PQ640_SystemData block = ValidBlock();
  for (int i = 72; i < 256; ++i) block.bytes[i] = static_cast<std::uint8_t>(i);
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_SetSystemData(&block), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 3, Bytes(block.bytes, block.bytes + 256)));
  EXPECT_EQ(Port().tcp_wait_ms, 6000u);
}

TEST_F(Commands, GetSystemDataChecksWhatArrives) {
  PQ640_SystemData sent_block = ValidBlock();
  sent_block.bytes[200] = 0xAB;
  AnswerOverTcp(ResponseFrame(0, 0, Bytes(sent_block.bytes, sent_block.bytes + 256)));
  PQ640_SystemData block{};
  ASSERT_EQ(PQ640_GetSystemData(&block), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 2));
  EXPECT_EQ(std::memcmp(block.bytes, sent_block.bytes, 256), 0);

  PutU32(sent_block, 68, 11);
  AnswerOverTcp(ResponseFrame(0, 0, Bytes(sent_block.bytes, sent_block.bytes + 256)));
  EXPECT_EQ(PQ640_GetSystemData(&block), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(block.bytes[68], 11);
}

TEST_F(Commands, ShortSystemDataOverSerialIsAShortRead) {
  OpenSerial();
  AnswerOverSerial(Concat({{0x7F, 0x00, 0x00, 0x00}, Bytes(100, 0)}));
  PQ640_SystemData block{};
  const std::uint64_t start = Now();
  EXPECT_EQ(PQ640_GetSystemData(&block), PQ640_SHORT_READ);
  EXPECT_EQ(Now() - start, 2000u);  // the gap after the last byte
}

TEST_F(Commands, UpdateCommStateOverSerialChangesTheLocalBaud) {
  OpenSerial();
  AnswerOverSerial(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_UpdateCommState(3), PQ640_OK);
  EXPECT_EQ(fake::LastSerialPort().settings.baud, 19200u);
  EXPECT_EQ(Port().comm_state, 3u);
  EXPECT_EQ(fake::LastSerialPort().written, RequestFrame(0, 0, {0x03, 0x00}));
}

}  // namespace
}  // namespace pq640::test
