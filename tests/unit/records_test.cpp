// Enrolment record codecs and the single-record commands: wire sizes, range
// checks on both sides, what a received record leaves in the caller's slot.
#include "record_builders.h"

namespace pq640::test {
namespace {

class Records : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    OpenTcp();
  }
  const Bytes& Sent() { return fake::LastSocket().sent; }
};

// ---- Sending --------------------------------------------------------------

TEST_F(Records, UserWireSizes) {
  const PQ640_UserData bare = MakeUser(0x01020304, 0, 0);
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_AddUserData(&bare), PQ640_OK);
  const Bytes bare_wire = Concat({{0x04, 0x03, 0x02, 0x01, 0}, {0}, Bytes(bare.info, bare.info + 10)});
  ASSERT_EQ(bare_wire.size(), 16u);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x10, bare_wire));
  EXPECT_EQ(Port().tcp_wait_ms, 11000u);

  const PQ640_UserData full = MakeUser(77, 2, 10);
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_AddUserData(&full), PQ640_OK);
  ASSERT_EQ(UserWire(full).size(), 986u);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x10, UserWire(full)));
}

TEST_F(Records, AdminWireSizeAndUncheckedLevel) {
  const PQ640_AdminData admin = MakeAdmin(9, 7, 1, 4);  // level 7 is the terminal's to judge
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_AddAdminData(&admin), PQ640_OK);
  ASSERT_EQ(AdminWire(admin).size(), 500u);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x20, AdminWire(admin)));
  EXPECT_EQ(Sent()[19 + 4], 7);
  EXPECT_EQ(Port().tcp_wait_ms, 6000u);
}

TEST_F(Records, AcceptedCodeLengths) {
  for (std::uint8_t length : {0, 4, 10}) {
    const PQ640_UserData u = MakeUser(1, 1, length);
    AnswerOverTcp(ResponseFrame(0, 0));
    EXPECT_EQ(PQ640_AddUserData(&u), PQ640_OK) << int{length};
    EXPECT_EQ(Sent(), RequestFrame(0, 0x10, UserWire(u)));
  }
}

TEST_F(Records, OutOfRangeRecordsAreNotSent) {
  const PQ640_UserData bad_users[] = {MakeUser(1, 3, 0), MakeUser(1, 0, 3), MakeUser(1, 0, 1),
                                      MakeUser(1, 0, 11), MakeUser(1, 0xFF, 0)};
  for (const PQ640_UserData& u : bad_users) EXPECT_EQ(PQ640_AddUserData(&u), PQ640_OUT_OF_RANGE);
  const PQ640_AdminData bad_admins[] = {MakeAdmin(1, 0, 3, 0), MakeAdmin(1, 0, 0, 3)};
  for (const PQ640_AdminData& a : bad_admins) EXPECT_EQ(PQ640_AddAdminData(&a), PQ640_OUT_OF_RANGE);
  EXPECT_TRUE(NothingSent());
}

TEST_F(Records, ClosedSerialPortIsReportedBeforeABadRecord) {
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, 1, 2), PQ640_OK);
  const PQ640_UserData u = MakeUser(1, 3, 0);
  const PQ640_AdminData a = MakeAdmin(1, 0, 0, 3);
  EXPECT_EQ(PQ640_AddUserData(&u), PQ640_PORT_REFUSED);
  EXPECT_EQ(PQ640_AddAdminData(&a), PQ640_PORT_REFUSED);
}

TEST_F(Records, DeletesAndClearsWithTheirTimeOuts) {
  struct Case {
    PQ640_ResultCode (*call)();
    std::uint8_t command;
    Bytes payload;
    std::uint32_t wait_ms;
  };
  const Case cases[] = {
      {[] { return PQ640_DeleteUserData(0xA1B2C3D4); }, 0x11, {0xD4, 0xC3, 0xB2, 0xA1}, 11000},
      {[] { return PQ640_DeleteAllUserData(); }, 0x12, {}, 31000},
      {[] { return PQ640_DeleteAdminData(5); }, 0x21, {5, 0, 0, 0}, 6000},
      {[] { return PQ640_DeleteAllAdminData(); }, 0x22, {}, 21000},
  };
  for (const Case& c : cases) {
    AnswerOverTcp(ResponseFrame(0, 0));
    EXPECT_EQ(c.call(), PQ640_OK);
    EXPECT_EQ(Sent(), RequestFrame(0, c.command, c.payload));
    EXPECT_EQ(Port().tcp_wait_ms, c.wait_ms);
  }
  AnswerOverTcp(ResponseFrame(0, 9));
  EXPECT_EQ(PQ640_DeleteUserData(1), 9);  // the terminal's own refusal
}

// ---- Receiving --------------------------------------------------------------

TEST_F(Records, GetUserDataFillsOnlyTheFieldsInUse) {
  const PQ640_UserData on_terminal = MakeUser(0x12345678, 1, 4, 0x00);
  AnswerOverTcp(ResponseFrame(0, 0, UserWire(on_terminal)));
  PQ640_UserData slot;
  std::memset(&slot, 0xEE, sizeof slot);
  slot.id = 0x12345600;  // asked for; the terminal's answer wins
  ASSERT_EQ(PQ640_GetUserData(&slot), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x13, {0x00, 0x56, 0x34, 0x12}));
  EXPECT_EQ(Port().tcp_wait_ms, 3000u);
  EXPECT_EQ(slot.id, 0x12345678u);
  EXPECT_EQ(slot.template_count, 1);
  EXPECT_EQ(std::memcmp(slot.templates[0], on_terminal.templates[0], 480), 0);
  EXPECT_EQ(slot.templates[1][0], 0xEE);  // beyond the count: the caller's bytes
  EXPECT_EQ(std::memcmp(slot.code, on_terminal.code, 4), 0);
  EXPECT_EQ(slot.code[4], 0xEE);
  EXPECT_EQ(std::memcmp(slot.info, on_terminal.info, 10), 0);
  EXPECT_EQ(slot.reserved[0], 0xEE);
}

TEST_F(Records, GetAdminDataRoundTrip) {
  const PQ640_AdminData on_terminal = MakeAdmin(3, 2, 2, 10, 0x00);
  AnswerOverTcp(ResponseFrame(0, 0, AdminWire(on_terminal)));
  PQ640_AdminData slot = MakeAdmin(3, 0, 0, 0, 0x11);
  ASSERT_EQ(PQ640_GetAdminData(&slot), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x23, {3, 0, 0, 0}));
  EXPECT_EQ(RecordBytes(&slot, 986), RecordBytes(&on_terminal, 986));
}

TEST_F(Records, ReceivedCodeLengthsAreChecked) {
  for (std::uint8_t length : {0, 4, 10}) {
    AnswerOverTcp(ResponseFrame(0, 0, UserWire(MakeUser(1, 0, length))));
    PQ640_UserData slot{};
    EXPECT_EQ(PQ640_GetUserData(&slot), PQ640_OK) << int{length};
  }
  for (std::uint8_t length : {3, 11}) {
    // A valid-looking frame with the bad length byte; nothing after it is read.
    Bytes wire = UserWire(MakeUser(1, 0, 0));
    wire[5] = length;
    AnswerOverTcp(ResponseFrame(0, 0, wire));
    PQ640_UserData slot{};
    EXPECT_EQ(PQ640_GetUserData(&slot), PQ640_INVALID_ARGUMENT) << int{length};
    EXPECT_EQ(slot.code_length, length);  // stored before it was rejected
    EXPECT_EQ(UnreadInput(fake::LastSocket()), 10u + 1u);  // info and trailer
  }
}

TEST_F(Records, ReceivedCountsAndLevelsAreChecked) {
  Bytes user = UserWire(MakeUser(1, 0, 0));
  user[4] = 3;
  AnswerOverTcp(ResponseFrame(0, 0, user));
  PQ640_UserData u{};
  EXPECT_EQ(PQ640_GetUserData(&u), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(u.template_count, 3);

  for (std::uint8_t level : {3, 7}) {
    AnswerOverTcp(ResponseFrame(0, 0, AdminWire(MakeAdmin(1, level, 0, 0))));
    PQ640_AdminData a{};
    EXPECT_EQ(PQ640_GetAdminData(&a), PQ640_INVALID_ARGUMENT);
    EXPECT_EQ(a.level, level);
  }
}

TEST_F(Records, UnknownIdAndBrokenAnswers) {
  AnswerOverTcp(ResponseFrame(0, 8));
  PQ640_UserData u = MakeUser(42, 0, 0);
  EXPECT_EQ(PQ640_GetUserData(&u), 8);
  EXPECT_EQ(u.id, 42u);

  Bytes corrupted = ResponseFrame(0, 0, UserWire(MakeUser(42, 1, 0)));
  corrupted.back() ^= 0x01;
  AnswerOverTcp(corrupted);
  EXPECT_EQ(PQ640_GetUserData(&u), PQ640_BAD_CHECKSUM);

  // Cut off inside the template: the read waits for the rest, then gives up.
  const Bytes whole = ResponseFrame(0, 0, UserWire(MakeUser(42, 1, 0)));
  AnswerOverTcp(Bytes(whole.begin(), whole.begin() + 100));
  EXPECT_EQ(PQ640_GetUserData(&u), PQ640_TCP_FAILED);
}

}  // namespace
}  // namespace pq640::test
