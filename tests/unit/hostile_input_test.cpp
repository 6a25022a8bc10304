// What a host or a terminal can pass that must not crash, hang or misdirect
// the library: null pointers, loose address forms, a terminal dripping bytes.
#include "record_builders.h"

namespace pq640::test {
namespace {

// ---- Terminal addresses -------------------------------------------------------

class TerminalAddress : public LibraryTest {};

TEST_F(TerminalAddress, OnlyFourDecimalFieldsAreAccepted) {
  // Loopback only, even though nothing here connects: the forms still cover
  // one- to three-digit fields, 0 and 255 in a field, and leading zeros.
  const char* const accepted[] = {"127.0.0.1", "127.2.3.4", "127.255.255.254", "127.0.0.0", "127.10.0.0",
                                  "127.000.000.001"};
  for (const char* text : accepted) {
    EXPECT_EQ(PQ640_SetTerminalIPAddr(text), PQ640_OK) << text;
    EXPECT_STREQ(Port().terminal_address, text);
  }
  const char* const rejected[] = {
      "",          "127.1",       "1",          "127.0.1",     "127.0.0.1.5", "127.0.0.256",
      "0x7f.0.0.1", "0x7F000001", "2130706433", "127.0.0.0001", "127..0.1",   ".127.0.0.1",
      "127.0.0.1.", " 127.0.0.1", "127.0.0.1 ", "127.0.0.1 x", "127.0.0.1\n", "127.0.0.-1",
      "127.0.0.+1", "0.0.0.0",    "255.255.255.255", "a.b.c.d", "127.2.3.4/24", "127.2.3.4:7413"};
  for (const char* text : rejected) {
    ASSERT_EQ(PQ640_SetTerminalIPAddr("127.0.0.5"), PQ640_OK);
    EXPECT_EQ(PQ640_SetTerminalIPAddr(text), PQ640_INVALID_ARGUMENT) << '"' << text << '"';
    EXPECT_STREQ(Port().terminal_address, "127.0.0.5");  // the previous address stays
  }
}

TEST_F(TerminalAddress, LeadingZerosAreDecimal) {
  OpenTcp();
  ASSERT_EQ(PQ640_SetTerminalIPAddr("127.000.000.061"), PQ640_OK);
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(fake::LastSocket().connected_address, 0x3D00007Fu);  // 127.0.0.61, not .49
}

TEST_F(TerminalAddress, WhatIsCheckedIsWhatIsConnectedTo) {
  // Fifty characters whose first fifteen would parse: rejected whole.
  const std::string long_text = "127.77.0.8" + std::string(40, ' ');
  ASSERT_EQ(PQ640_SetTerminalIPAddr("127.77.0.1"), PQ640_OK);
  EXPECT_EQ(PQ640_SetTerminalIPAddr(long_text.c_str()), PQ640_INVALID_ARGUMENT);
  EXPECT_STREQ(Port().terminal_address, "127.77.0.1");
}

// ---- Null pointers ----------------------------------------------------------------

class NullPointers : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    OpenTcp();
  }
};

TEST_F(NullPointers, EveryPointerIsCheckedBeforeAnythingElse) {
  PQ640_UserData users[1] = {MakeUser(1, 0, 0)};
  std::uint32_t ids[1] = {1};
  std::uint8_t results[1] = {};
  std::uint32_t count = 77;
  const PQ640_RecordQuery query{};
  const PQ640_DateTime t{26, 1, 1, 0, 0, 0};
  PQ640_IORecord io[1];
  PQ640_AdminRecord admin[1];
  const PQ640_ResultCode codes[] = {
      PQ640_GetDateTime(nullptr),
      PQ640_SetDateTime(nullptr),
      PQ640_GetSystemData(nullptr),
      PQ640_SetSystemData(nullptr),
      PQ640_AddUserData(nullptr),
      PQ640_GetUserData(nullptr),
      PQ640_AddAdminData(nullptr),
      PQ640_GetAdminData(nullptr),
      PQ640_GetAllUserData(nullptr, nullptr, PQ640_LIST_COUNT, nullptr),
      PQ640_GetAllUserData(&count, nullptr, PQ640_LIST_IDS, nullptr),
      PQ640_GetAllAdminData(&count, nullptr, PQ640_LIST_RECORDS, nullptr),
      PQ640_GetAllAdminData(nullptr, nullptr, 5, nullptr),
      // Null before the batch size: 0 is out of range too.
      PQ640_AddUsersData(0, nullptr, results, nullptr),
      PQ640_AddUsersData(1, users, nullptr, nullptr),
      PQ640_DeleteUsersData(0, nullptr, results, nullptr),
      PQ640_DeleteUsersData(1, ids, nullptr, nullptr),
      PQ640_GetUsersData(nullptr, ids, users, nullptr),
      PQ640_GetUsersData(&count, nullptr, users, nullptr),
      PQ640_GetUsersData(&count, ids, nullptr, nullptr),
      PQ640_GetIORecord(nullptr, &count, io, nullptr),
      PQ640_GetIORecord(&query, nullptr, io, nullptr),
      PQ640_GetIORecord(&query, &count, nullptr, nullptr),
      PQ640_GetIORecordNum(nullptr, &count),
      PQ640_GetIORecordNum(&query, nullptr),
      PQ640_AddIORecord(nullptr),
      PQ640_DeleteIORecord(nullptr),
      PQ640_GetAdminRecord(nullptr, &count, admin, nullptr),
      PQ640_GetAdminRecord(&query, &count, nullptr, nullptr),
      PQ640_GetAdminRecordNum(&query, nullptr),
      PQ640_AddAdminRecord(nullptr),
      PQ640_DeleteAdminRecord(nullptr),
      PQ640_GetUsersIORecord(0, nullptr, 0, &t, &t, &count, io, nullptr),
      PQ640_GetUsersIORecord(1, ids, 0, nullptr, &t, &count, io, nullptr),
      PQ640_GetUsersIORecord(1, ids, 0, &t, nullptr, &count, io, nullptr),
      PQ640_GetUsersIORecord(1, ids, 0, &t, &t, nullptr, io, nullptr),
      PQ640_GetUsersIORecord(1, ids, 0, &t, &t, &count, nullptr, nullptr),
      PQ640_GetUsersIORecordNum(1, nullptr, 0, &t, &t, &count),
      PQ640_GetUsersIORecordNum(1, ids, 0, &t, &t, nullptr),
      PQ640_SetTerminalIPAddr(nullptr),
      // Null before the mode check of the bounded listings: mode 9 is refused too.
      PQ640_GetAllUserDataBounded(1, nullptr, users, 9, nullptr),
      PQ640_GetAllUserDataBounded(1, &count, nullptr, PQ640_LIST_RECORDS, nullptr),
      PQ640_GetAllAdminDataBounded(1, nullptr, ids, 9, nullptr),
      PQ640_GetAllAdminDataBounded(1, &count, nullptr, PQ640_LIST_IDS, nullptr),
      PQ640_GetIORecordBounded(nullptr, 1, &count, io, nullptr),
      PQ640_GetIORecordBounded(&query, 1, nullptr, io, nullptr),
      PQ640_GetIORecordBounded(&query, 1, &count, nullptr, nullptr),
      PQ640_GetAdminRecordBounded(nullptr, 1, &count, admin, nullptr),
      PQ640_GetAdminRecordBounded(&query, 1, &count, nullptr, nullptr),
      PQ640_GetUsersIORecordBounded(0, nullptr, 0, &t, &t, 1, &count, io, nullptr),
      PQ640_GetUsersIORecordBounded(1, ids, 0, &t, &t, 1, &count, nullptr, nullptr),
  };
  for (std::size_t i = 0; i < std::size(codes); ++i) EXPECT_EQ(codes[i], PQ640_INVALID_ARGUMENT) << i;
  EXPECT_EQ(count, 77u);
  EXPECT_TRUE(NothingSent());
  EXPECT_FALSE(fake::Called("SocketCreate"));
}

TEST_F(NullPointers, NullComesBeforeAClosedSerialPort) {
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, 1, 2), PQ640_OK);
  EXPECT_EQ(PQ640_AddUserData(nullptr), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(PQ640_GetDateTime(nullptr), PQ640_INVALID_ARGUMENT);
  const PQ640_UserData u = MakeUser(1, 0, 0);
  EXPECT_EQ(PQ640_AddUserData(&u), PQ640_PORT_REFUSED);
}

TEST_F(NullPointers, ListingModesThatReadNoEntriesNeedNoBuffer) {
  AnswerOverTcp(ResponseFrame(0, 0, U32(3)));
  std::uint32_t count = 0;
  EXPECT_EQ(PQ640_GetAllUserData(&count, nullptr, 7, nullptr), PQ640_OK);
  EXPECT_EQ(count, 3u);
}

// ---- A terminal dripping bytes ------------------------------------------------------

class DrippingTerminal : public LibraryTest {};

// One byte other than the start byte every 900 ms: each read is satisfied
// well within its own wait, so only the search's own bound ends it, checked
// before each wait, which lasts no longer than what remains.
TEST_F(DrippingTerminal, StartByteSearchEndsAfterTheReadWait) {
  OpenTcp();
  fake::SocketScript drip;
  for (int i = 0; i < 100; ++i) drip.input.push_back({{'x'}, 900});
  os().net.scripts.push_back(drip);
  const std::uint64_t start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
  EXPECT_EQ(Now() - start, 3000u);  // the fourth wait is cut at 3000 ms

  OpenSerial();
  std::deque<fake::Chunk> serial_drip;
  for (int i = 0; i < 100; ++i) serial_drip.push_back({{'x'}, 900});
  os().serial.replies.push_back(serial_drip);
  const std::uint64_t serial_start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
  EXPECT_EQ(Now() - serial_start, 3000u);
}

TEST_F(DrippingTerminal, AnswerWithinTheReadWaitIsUnaffected) {
  OpenTcp();
  fake::SocketScript slow;
  slow.input.push_back({{'x'}, 900});
  slow.input.push_back({{'y'}, 900});
  slow.input.push_back({ResponseFrame(0, 0), 900});
  os().net.scripts.push_back(slow);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
}

}  // namespace
}  // namespace pq640::test
