// Event log commands: callback sequences, the time-stamp check on IO records,
// when each count output is written, and the exact requests.
#include "record_builders.h"

namespace pq640::test {
namespace {

using Calls = std::vector<ProgressLog::Call>;

class Logs : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    OpenTcp();
    ProgressLog::Calls().clear();
    for (int i = 0; i < 18; ++i) query_.bytes[i] = static_cast<std::uint8_t>(0xC0 + i);
  }
  const Bytes& Sent() { return fake::LastSocket().sent; }
  const Calls& Progress() { return ProgressLog::Calls(); }
  Bytes Query() { return Bytes(query_.bytes, query_.bytes + 18); }

  PQ640_RecordQuery query_{};
};

// A valid record on day `day` whose ten trailing bytes are all `tag`.
Bytes IoRecord(std::uint8_t day, std::uint8_t tag, std::uint8_t month = 12) {
  Bytes r = {26, month, day, 8, 30, 0};
  r.insert(r.end(), 10, tag);
  return r;
}

Bytes IoRecords(std::initializer_list<Bytes> records) {
  Bytes all = U32(static_cast<std::uint32_t>(records.size()));
  for (const Bytes& r : records) all.insert(all.end(), r.begin(), r.end());
  return all;
}

TEST_F(Logs, NoRecordsMakeExactlyOneCallback) {
  AnswerOverTcp(ResponseFrame(0, 0, U32(0)));
  std::uint32_t count = 9;
  PQ640_IORecord untouched[1];
  ASSERT_EQ(PQ640_GetIORecord(&query_, &count, untouched, &ProgressLog::Record), PQ640_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Progress(), (Calls{{0, 0}}));

  ProgressLog::Calls().clear();
  AnswerOverTcp(ResponseFrame(0, 0, U32(0)));
  PQ640_AdminRecord none[1];
  ASSERT_EQ(PQ640_GetAdminRecord(&query_, &count, none, &ProgressLog::Record), PQ640_OK);
  EXPECT_EQ(Progress(), (Calls{{0, 0}}));
}

TEST_F(Logs, ThreeIoRecordsAndTheFinalCallback) {
  AnswerOverTcp(ResponseFrame(0, 0, IoRecords({IoRecord(1, 0xA1), IoRecord(2, 0xA2), IoRecord(3, 0xFF)})));
  PQ640_IORecord records[4];
  std::memset(records, 0xEE, sizeof records);
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetIORecord(&query_, &count, records, &ProgressLog::Record), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x48, Query()));
  EXPECT_EQ(Port().tcp_wait_ms, 3000u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(RecordBytes(&records[1], 16), IoRecord(2, 0xA2));
  EXPECT_EQ(RecordBytes(&records[2], 16), IoRecord(3, 0xFF));
  EXPECT_EQ(records[3].time.year, 0xEE);
  EXPECT_EQ(Progress(), (Calls{{3, 0}, {3, 1}, {3, 2}, {3, 3}}));
}

TEST_F(Logs, InvalidTimeStampEndsTheRead) {
  AnswerOverTcp(ResponseFrame(0, 0, IoRecords({IoRecord(1, 1), IoRecord(2, 2), IoRecord(3, 3, 13),
                                               IoRecord(4, 4), IoRecord(5, 5)})));
  PQ640_IORecord records[5] = {};
  std::uint32_t count = 77;
  EXPECT_EQ(PQ640_GetIORecord(&query_, &count, records, &ProgressLog::Record), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(records[2].time.month, 13);  // left after the valid ones
  EXPECT_EQ(records[3].time.month, 0);
  EXPECT_EQ(Progress(), (Calls{{5, 0}, {5, 1}, {5, 2}}));
  EXPECT_EQ(UnreadInput(fake::LastSocket()), 2u * 16u + 1u);
}

TEST_F(Logs, AdminRecordsPassThroughAndCountComesLast) {
  Bytes any(16, 0xFF);
  Bytes zeros(16, 0x00);
  AnswerOverTcp(ResponseFrame(0, 0, Concat({U32(2), any, zeros})));
  PQ640_AdminRecord records[2];
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAdminRecord(&query_, &count, records, &ProgressLog::Record), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x40, Query()));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(RecordBytes(&records[0], 16), any);
  EXPECT_EQ(Progress(), (Calls{{2, 0}, {2, 1}, {2, 2}}));

  // Cut off after the first record: the count is not written.
  const Bytes whole = ResponseFrame(0, 0, Concat({U32(2), any, any}));
  AnswerOverTcp(Bytes(whole.begin(), whole.begin() + 4 + 4 + 16));
  count = 77;
  EXPECT_EQ(PQ640_GetAdminRecord(&query_, &count, records, nullptr), PQ640_TCP_FAILED);
  EXPECT_EQ(count, 77u);
}

TEST_F(Logs, CountsKeepTheirValueWhenNoCountArrived) {
  const std::uint32_t ids[1] = {1};
  const PQ640_DateTime from{26, 1, 1, 0, 0, 0}, to{26, 12, 31, 23, 59, 59};
  PQ640_IORecord io[1];
  PQ640_AdminRecord admin[1];
  auto calls = [&](std::uint32_t* count) {
    return std::vector<PQ640_ResultCode>{
        PQ640_GetIORecord(&query_, count, io, nullptr),
        PQ640_GetIORecordNum(&query_, count),
        PQ640_GetAdminRecord(&query_, count, admin, nullptr),
        PQ640_GetAdminRecordNum(&query_, count),
        PQ640_GetUsersIORecord(1, ids, 0xFF, &from, &to, count, io, nullptr),
        PQ640_GetUsersIORecordNum(1, ids, 0xFF, &from, &to, count),
    };
  };
  for (int i = 0; i < 6; ++i) AnswerOverTcp(ResponseFrame(0, 5));
  std::uint32_t count = 77;
  for (PQ640_ResultCode r : calls(&count)) EXPECT_EQ(r, 5);
  EXPECT_EQ(count, 77u);

  // Header only, then silence: still no count.
  for (int i = 0; i < 6; ++i) AnswerOverTcp({0x7F, 0x00, 0x00, 0x00});
  for (PQ640_ResultCode r : calls(&count)) EXPECT_EQ(r, PQ640_TCP_FAILED);
  EXPECT_EQ(count, 77u);
}

TEST_F(Logs, NumCommandsReadOnlyTheCount) {
  AnswerOverTcp(ResponseFrame(0, 0, U32(123456)));
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetIORecordNum(&query_, &count), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x49, Query()));
  EXPECT_EQ(count, 123456u);
  EXPECT_EQ(Port().tcp_wait_ms, 3000u);

  AnswerOverTcp(ResponseFrame(0, 0, U32(3)));
  ASSERT_EQ(PQ640_GetAdminRecordNum(&query_, &count), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x41, Query()));
  EXPECT_EQ(count, 3u);
}

TEST_F(Logs, AddAndDeleteSendTheirBytesUnchanged) {
  PQ640_IORecord io;
  std::memset(&io, 0x00, sizeof io);
  io.time.month = 13;  // not checked before sending
  io.data[9] = 0x99;
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_AddIORecord(&io), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x4B, RecordBytes(&io, 16)));
  EXPECT_EQ(Port().tcp_wait_ms, 4000u);

  PQ640_AdminRecord admin;
  std::memset(admin.bytes, 0xFF, 16);
  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_AddAdminRecord(&admin), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x43, Bytes(16, 0xFF)));
  EXPECT_EQ(Port().tcp_wait_ms, 4000u);

  AnswerOverTcp(ResponseFrame(0, 0));
  ASSERT_EQ(PQ640_DeleteIORecord(&query_), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x4A, Query()));
  EXPECT_EQ(Port().tcp_wait_ms, 11000u);

  AnswerOverTcp(ResponseFrame(0, 6));
  EXPECT_EQ(PQ640_DeleteAdminRecord(&query_), 6);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x42, Query()));
  EXPECT_EQ(Port().tcp_wait_ms, 11000u);
}

TEST_F(Logs, UserListSizesOutsideTheLimitSendNothing) {
  const std::uint32_t ids[1] = {1};
  const PQ640_DateTime t{26, 1, 1, 0, 0, 0};
  std::uint32_t count = 4;
  PQ640_IORecord records[1];
  for (std::uint32_t n : {0u, 1001u}) {
    EXPECT_EQ(PQ640_GetUsersIORecord(n, ids, 0, &t, &t, &count, records, nullptr), PQ640_OUT_OF_RANGE);
    EXPECT_EQ(PQ640_GetUsersIORecordNum(n, ids, 0, &t, &t, &count), PQ640_OUT_OF_RANGE);
  }
  EXPECT_EQ(count, 4u);
  EXPECT_TRUE(NothingSent());
}

TEST_F(Logs, UsersRequestsCarryCountIdsSelectorAndRange) {
  const std::uint32_t ids[2] = {0x11223344, 7};
  // An impossible range goes out as given: the terminal judges it.
  const PQ640_DateTime from{26, 2, 30, 0, 0, 0}, to{26, 12, 31, 23, 59, 59};
  const Bytes request = Concat({U32(2), U32(0x11223344), U32(7), {0x01}, {26, 2, 30, 0, 0, 0},
                                {26, 12, 31, 23, 59, 59}});

  AnswerOverTcp(ResponseFrame(0, 0, U32(17)));
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetUsersIORecordNum(2, ids, 0x01, &from, &to, &count), PQ640_OK);
  EXPECT_EQ(Sent(), RequestFrame(0, 0x4D, request));
  EXPECT_EQ(Port().tcp_wait_ms, 31000u);
  EXPECT_EQ(count, 17u);

  AnswerOverTcp(ResponseFrame(0, 0, IoRecords({IoRecord(9, 1), IoRecord(10, 1, 0)})));
  PQ640_IORecord records[2] = {};
  EXPECT_EQ(PQ640_GetUsersIORecord(2, ids, 0x01, &from, &to, &count, records, &ProgressLog::Record),
            PQ640_INVALID_ARGUMENT);  // month 0
  EXPECT_EQ(Sent(), RequestFrame(0, 0x4C, request));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Progress(), (Calls{{2, 0}, {2, 1}}));
}

}  // namespace
}  // namespace pq640::test
