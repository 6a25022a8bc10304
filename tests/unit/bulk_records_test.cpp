// Bulk enrolment transfers: callback orders, where each count output is
// written, failures in the middle of a loop, and the batch and record checks.
#include <array>

#include "record_builders.h"

namespace pq640::test {
namespace {

using Calls = std::vector<ProgressLog::Call>;

class BulkRecords : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    OpenTcp();
    ProgressLog::Calls().clear();
  }
  const Bytes& Sent() { return fake::LastSocket().sent; }
  const Calls& Progress() { return ProgressLog::Calls(); }
};

Bytes Ids(std::initializer_list<std::uint32_t> ids) {
  Bytes out;
  for (std::uint32_t id : ids) {
    const Bytes b = U32(id);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

// ---- Listing ----------------------------------------------------------------

TEST_F(BulkRecords, CountOnlyMakesNoCallback) {
  AnswerOverTcp(ResponseFrame(0, 0, U32(2500)));
  std::uint32_t count = 7;
  ASSERT_EQ(PQ640_GetAllUserData(&count, nullptr, PQ640_LIST_COUNT, &ProgressLog::Record), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x14, {0}));
  EXPECT_EQ(Port().tcp_wait_ms, 11000u);
  EXPECT_EQ(count, 2500u);
  EXPECT_TRUE(Progress().empty());
}

TEST_F(BulkRecords, ListIdsAndRecords) {
  AnswerOverTcp(ResponseFrame(0, 0, Concat({U32(3), Ids({5, 0x01000000, 9})})));
  std::uint32_t ids[4] = {0, 0, 0, 0xDEAD};
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAllUserData(&count, ids, PQ640_LIST_IDS, &ProgressLog::Record), PQ640_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(ids[0], 5u);
  EXPECT_EQ(ids[1], 0x01000000u);
  EXPECT_EQ(ids[2], 9u);
  EXPECT_EQ(ids[3], 0xDEADu);
  EXPECT_EQ(Progress(), (Calls{{3, 0}, {3, 1}, {3, 2}}));

  const PQ640_UserData a = MakeUser(1, 2, 10, 0), b = MakeUser(2, 0, 0, 0);
  AnswerOverTcp(ResponseFrame(0, 0, Concat({U32(2), UserWire(a), UserWire(b)})));
  PQ640_UserData users[2];
  ASSERT_EQ(PQ640_GetAllUserData(&count, users, PQ640_LIST_RECORDS, nullptr), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x14, {2}));
  EXPECT_EQ(RecordBytes(&users[0], 986), RecordBytes(&a, 986));
  EXPECT_EQ(users[1].id, 2u);
  EXPECT_EQ(UserWire(users[1]), UserWire(b));
}

TEST_F(BulkRecords, OtherModesReportTheCountPerEntryWithoutData) {
  AnswerOverTcp(ResponseFrame(0, 0, U32(2)));
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAllUserData(&count, nullptr, 9, &ProgressLog::Record), PQ640_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Progress(), (Calls{{2, 0}, {2, 1}}));
}

TEST_F(BulkRecords, EmptyTableEndsAfterTheTrailer) {
  AnswerOverTcp(ResponseFrame(0, 0, U32(0)));
  std::uint32_t count = 5;
  PQ640_AdminData none[1];
  ASSERT_EQ(PQ640_GetAllAdminData(&count, none, PQ640_LIST_RECORDS, &ProgressLog::Record), PQ640_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(Progress().empty());
  EXPECT_EQ(UnreadInput(fake::LastSocket()), 0u);
}

TEST_F(BulkRecords, UserListingCountAtEachPointOfFailure) {
  std::uint32_t count = 77;
  // Failure before the mode byte went out: untouched.
  fake::SocketScript refused;
  refused.attempts = {fake::ConnectOutcome::kRefused, fake::ConnectOutcome::kRefused};
  os().net.scripts.push_back(refused);
  EXPECT_EQ(PQ640_GetAllUserData(&count, nullptr, 0, nullptr), PQ640_READ_FAILED);
  EXPECT_EQ(count, 77u);

  // Refused by the terminal: cleared.
  AnswerOverTcp(ResponseFrame(0, 4));
  EXPECT_EQ(PQ640_GetAllUserData(&count, nullptr, 0, nullptr), 4);
  EXPECT_EQ(count, 0u);

  // The second of three records is malformed: the count stands, the first
  // record stays, no further callback, the trailer is not read.
  Bytes bad = UserWire(MakeUser(2, 0, 0));
  bad[5] = 2;  // code length 2
  const PQ640_UserData first = MakeUser(1, 1, 4, 0);
  AnswerOverTcp(ResponseFrame(0, 0, Concat({U32(3), UserWire(first), bad, UserWire(MakeUser(3, 0, 0))})));
  PQ640_UserData users[3] = {};
  count = 77;
  EXPECT_EQ(PQ640_GetAllUserData(&count, users, PQ640_LIST_RECORDS, &ProgressLog::Record),
            PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(UserWire(users[0]), UserWire(first));
  EXPECT_EQ(users[1].code_length, 2);
  EXPECT_EQ(Progress(), (Calls{{3, 0}, {3, 1}}));
  EXPECT_EQ(UnreadInput(fake::LastSocket()), 10u + 16u + 1u);
}

TEST_F(BulkRecords, AdminListingWritesTheCountOnlyAtTheEnd) {
  const PQ640_AdminData a = MakeAdmin(4, 1, 1, 4, 0);
  AnswerOverTcp(ResponseFrame(0, 0, Concat({U32(2), AdminWire(a), AdminWire(MakeAdmin(5, 3, 0, 0))})));
  PQ640_AdminData admins[2] = {};
  std::uint32_t count = 77;
  EXPECT_EQ(PQ640_GetAllAdminData(&count, admins, PQ640_LIST_RECORDS, &ProgressLog::Record),
            PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(count, 77u);
  EXPECT_EQ(AdminWire(admins[0]), AdminWire(a));
  EXPECT_EQ(Port().tcp_wait_ms, 3000u);

  AnswerOverTcp(ResponseFrame(0, 0, Concat({U32(2), Ids({4, 5})})));
  std::uint32_t ids[2] = {};
  ASSERT_EQ(PQ640_GetAllAdminData(&count, ids, PQ640_LIST_IDS, nullptr), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x24, {1}));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(ids[1], 5u);
}

// ---- Adding and deleting ----------------------------------------------------

TEST_F(BulkRecords, BatchSizesOutsideTheLimitSendNothing) {
  PQ640_UserData users[1] = {MakeUser(1, 0, 0)};
  std::uint32_t ids[1] = {1};
  std::uint8_t results[1] = {};
  for (std::uint32_t n : {0u, 1001u}) {
    EXPECT_EQ(PQ640_AddUsersData(n, users, results, nullptr), PQ640_OUT_OF_RANGE);
    EXPECT_EQ(PQ640_DeleteUsersData(n, ids, results, nullptr), PQ640_OUT_OF_RANGE);
    std::uint32_t count = n;
    EXPECT_EQ(PQ640_GetUsersData(&count, ids, users, nullptr), PQ640_OUT_OF_RANGE);
    EXPECT_EQ(count, n);
  }
  EXPECT_TRUE(NothingSent());
}

TEST_F(BulkRecords, AddUsersCallsBackTwiceThroughTheBatch) {
  const PQ640_UserData users[2] = {MakeUser(1, 2, 10), MakeUser(2, 0, 3)};  // 3: the terminal judges
  AnswerOverTcp(ResponseFrame(0, 0, {0, 7}));
  std::uint8_t results[3] = {0xEE, 0xEE, 0xEE};
  ASSERT_EQ(PQ640_AddUsersData(2, users, results, &ProgressLog::Record), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x15, Concat({U32(2), UserWire(users[0]), UserWire(users[1])})));
  EXPECT_EQ(Port().tcp_wait_ms, 31000u);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 7);
  EXPECT_EQ(results[2], 0xEE);
  EXPECT_EQ(Progress(), (Calls{{2, 0}, {2, 1}, {2, 0}, {2, 1}}));
}

TEST_F(BulkRecords, AddUsersChecksEveryRecordBeforeSending) {
  for (const PQ640_UserData& bad : {MakeUser(2, 3, 0), MakeUser(2, 0, 11), MakeUser(2, 0xFF, 0xFF)}) {
    const PQ640_UserData users[3] = {MakeUser(1, 0, 0), bad, MakeUser(3, 0, 0)};
    std::uint8_t results[3] = {};
    EXPECT_EQ(PQ640_AddUsersData(3, users, results, &ProgressLog::Record), PQ640_OUT_OF_RANGE);
  }
  EXPECT_TRUE(NothingSent());
  EXPECT_TRUE(Progress().empty());
}

TEST_F(BulkRecords, AddUsersStopsAtAResultThatNeverComes) {
  const PQ640_UserData users[3] = {MakeUser(1, 0, 0), MakeUser(2, 0, 0), MakeUser(3, 0, 0)};
  const Bytes whole = ResponseFrame(0, 0, {0, 0, 0});
  AnswerOverTcp(Bytes(whole.begin(), whole.begin() + 5));  // header and one result
  std::uint8_t results[3] = {0xEE, 0xEE, 0xEE};
  EXPECT_EQ(PQ640_AddUsersData(3, users, results, &ProgressLog::Record), PQ640_TCP_FAILED);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 0xEE);
  EXPECT_EQ(Progress(), (Calls{{3, 0}, {3, 1}, {3, 2}, {3, 0}, {3, 1}}));
}

// Records go to the channel in groups, each as runs of its slot: every shape
// of record, across group boundaries, must still leave as its exact wire form.
TEST_F(BulkRecords, AddUsersEncodesEveryShapeAcrossGroups) {
  std::vector<PQ640_UserData> users;
  Bytes payload = U32(75);
  for (std::uint32_t i = 0; i < 75; ++i) {
    const std::uint8_t templates = static_cast<std::uint8_t>(i % 3);
    const std::uint8_t code_length = std::array<std::uint8_t, 4>{0, 4, 10, 7}[(i / 3) % 4];
    users.push_back(MakeUser(i + 1, templates, code_length, static_cast<std::uint8_t>(i)));
    const Bytes wire = UserWire(users.back());
    payload.insert(payload.end(), wire.begin(), wire.end());
  }
  AnswerOverTcp(ResponseFrame(0, 0, Bytes(75, 0)));
  std::vector<std::uint8_t> results(75, 0xEE);
  ASSERT_EQ(PQ640_AddUsersData(75, users.data(), results.data(), nullptr), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x15, payload));
  EXPECT_EQ(results, std::vector<std::uint8_t>(75, 0));
}

// Without a callback the results arrive as one block; a response cut short
// still leaves what arrived, and only that, in the caller's array.
TEST_F(BulkRecords, AddUsersWithoutCallbackStopsAtAResultThatNeverComes) {
  const PQ640_UserData users[3] = {MakeUser(1, 0, 0), MakeUser(2, 0, 0), MakeUser(3, 0, 0)};
  const Bytes whole = ResponseFrame(0, 0, {5, 6, 7});
  AnswerOverTcp(Bytes(whole.begin(), whole.begin() + 6));  // header and two results
  std::uint8_t results[3] = {0xEE, 0xEE, 0xEE};
  EXPECT_EQ(PQ640_AddUsersData(3, users, results, nullptr), PQ640_TCP_FAILED);
  EXPECT_EQ(results[0], 5);
  EXPECT_EQ(results[1], 6);
  EXPECT_EQ(results[2], 0xEE);
}

std::uint8_t* g_results = nullptr;
std::vector<std::uint8_t> g_seen_at_callback;
void PQ640_CALL NoteResult(std::uint32_t total, std::uint32_t index) {
  ProgressLog::Record(total, index);
  g_seen_at_callback.push_back(g_results[index]);
}

TEST_F(BulkRecords, DeleteUsersCallsBackAfterEachResult) {
  const std::uint32_t ids[3] = {10, 0x0A0B0C0D, 30};
  AnswerOverTcp(ResponseFrame(0, 0, {0, 9, 0}));
  std::uint8_t results[3] = {0xEE, 0xEE, 0xEE};
  g_results = results;
  g_seen_at_callback.clear();
  ASSERT_EQ(PQ640_DeleteUsersData(3, ids, results, &NoteResult), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x16, Concat({U32(3), Ids({10, 0x0A0B0C0D, 30})})));
  EXPECT_EQ(Progress(), (Calls{{3, 0}, {3, 1}, {3, 2}}));
  EXPECT_EQ(g_seen_at_callback, (std::vector<std::uint8_t>{0, 9, 0}));
}

// ---- Reading a list ---------------------------------------------------------

TEST_F(BulkRecords, GetUsersDataTakesFewerRecordsThanAskedFor) {
  const std::uint32_t ids[5] = {1, 2, 3, 4, 5};
  const PQ640_UserData found[3] = {MakeUser(1, 1, 0, 0), MakeUser(3, 0, 4, 0), MakeUser(5, 2, 0, 0)};
  AnswerOverTcp(ResponseFrame(0, 0, Concat({U32(3), UserWire(found[0]), UserWire(found[1]), UserWire(found[2])})));
  PQ640_UserData records[5];
  std::memset(records, 0xEE, sizeof records);
  std::uint32_t count = 5;
  ASSERT_EQ(PQ640_GetUsersData(&count, ids, records, &ProgressLog::Record), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x17, Concat({U32(5), Ids({1, 2, 3, 4, 5})})));
  EXPECT_EQ(count, 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(UserWire(records[i]), UserWire(found[i]));
  EXPECT_EQ(records[3].id, 0xEEEEEEEEu);
  EXPECT_EQ(Progress(), (Calls{{3, 0}, {3, 1}, {3, 2}}));
}

TEST_F(BulkRecords, GetUsersDataRefusesMoreRecordsThanAskedFor) {
  const std::uint32_t ids[2] = {1, 2};
  AnswerOverTcp(ResponseFrame(0, 0, Concat({U32(3), UserWire(MakeUser(1, 0, 0)), UserWire(MakeUser(2, 0, 0)),
                                            UserWire(MakeUser(3, 0, 0))})));
  PQ640_UserData records[2];
  std::memset(records, 0xEE, sizeof records);
  std::uint32_t count = 2;
  EXPECT_EQ(PQ640_GetUsersData(&count, ids, records, &ProgressLog::Record), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(records[0].id, 0xEEEEEEEEu);
  EXPECT_TRUE(Progress().empty());
}

}  // namespace
}  // namespace pq640::test
