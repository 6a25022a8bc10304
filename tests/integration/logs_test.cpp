// Event logs against the simulator over TCP and a serial line: add, count,
// read and delete by query, per-user reads in a time range, and the Num and
// Get commands agreeing.
#include <cstring>
#include <vector>

#include "pq640sim/generated_records.h"
#include "sim_fixture.h"

namespace pq640::integration {
namespace {

using EventLogs = EitherLink;

// Queries in the layout the simulator documents for host developers.
PQ640_RecordQuery Query(std::uint8_t kind, PQ640_DateTime from = {}, PQ640_DateTime to = {},
                        std::uint32_t user = 0) {
  PQ640_RecordQuery q{};
  q.bytes[0] = kind;
  std::memcpy(q.bytes + 1, &from, 6);
  std::memcpy(q.bytes + 7, &to, 6);
  std::memcpy(q.bytes + 13, &user, 4);
  return q;
}

PQ640_IORecord Punch(PQ640_DateTime time, std::uint32_t user, std::uint8_t state) {
  PQ640_IORecord r{};
  r.time = time;
  std::memcpy(r.data, &user, 4);
  r.data[4] = 1;  // verification method
  r.data[5] = state;
  r.data[6] = 0x5A;  // work code
  return r;
}

PQ640_DateTime Day(std::uint8_t day, std::uint8_t hour) { return {26, 11, day, hour, 0, 0}; }

class EventLogsWithPunches : public EventLogs {
 protected:
  void SetUp() override {
    EventLogs::SetUp();
    // Added out of order: the terminal keeps them sorted by time.
    for (const PQ640_IORecord& r : {Punch(Day(3, 9), 7, 0), Punch(Day(1, 9), 7, 0), Punch(Day(1, 17), 7, 1),
                                    Punch(Day(2, 8), 8, 0), Punch(Day(2, 18), 8, 1), Punch(Day(3, 17), 7, 1)}) {
      ASSERT_EQ(PQ640_AddIORecord(&r), PQ640_OK);
    }
  }

  // Count, then read into an array of exactly that size; both must agree.
  std::vector<PQ640_IORecord> Read(const PQ640_RecordQuery& query) {
    std::uint32_t expected = 0;
    EXPECT_EQ(PQ640_GetIORecordNum(&query, &expected), PQ640_OK);
    std::vector<PQ640_IORecord> records(expected + 1);  // never null, even for none
    std::uint32_t count = 0;
    EXPECT_EQ(PQ640_GetIORecord(&query, &count, records.data(), nullptr), PQ640_OK);
    EXPECT_EQ(count, expected);
    records.resize(count);
    return records;
  }
};

TEST_P(EventLogsWithPunches, QueriesSelectAndOrderByTime) {
  const std::vector<PQ640_IORecord> all = Read(Query(0));
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0].time.day, 1);
  EXPECT_EQ(all[5].time.day, 3);
  EXPECT_EQ(all[5].time.hour, 17);

  // Both ends included.
  EXPECT_EQ(Read(Query(1, Day(1, 17), Day(2, 18))).size(), 3u);
  EXPECT_EQ(Read(Query(2, {}, {}, 8)).size(), 2u);
  const std::vector<PQ640_IORecord> one = Read(Query(3, Day(3, 0), Day(3, 23), 7));
  ASSERT_EQ(one.size(), 2u);
  EXPECT_EQ(one[1].data[5], 1);
  EXPECT_EQ(one[1].data[6], 0x5A);
}

TEST_P(EventLogsWithPunches, DeleteRemovesWhatTheQuerySelects) {
  const PQ640_RecordQuery first_day = Query(1, Day(1, 0), Day(1, 23));
  ASSERT_EQ(PQ640_DeleteIORecord(&first_day), PQ640_OK);
  EXPECT_EQ(Read(Query(0)).size(), 4u);
  EXPECT_TRUE(Read(first_day).empty());
  const PQ640_RecordQuery everything = Query(0);
  ASSERT_EQ(PQ640_DeleteIORecord(&everything), PQ640_OK);
  EXPECT_TRUE(Read(everything).empty());
}

TEST_P(EventLogsWithPunches, PerUserReadsInATimeRange) {
  const std::uint32_t ids[2] = {8, 7};
  const PQ640_DateTime from = Day(2, 0), to = Day(3, 12);
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetUsersIORecordNum(2, ids, 0xFF, &from, &to, &count), PQ640_OK);
  EXPECT_EQ(count, 3u);
  std::vector<PQ640_IORecord> records(count);
  ASSERT_EQ(PQ640_GetUsersIORecord(2, ids, 0xFF, &from, &to, &count, records.data(), nullptr), PQ640_OK);
  EXPECT_EQ(count, 3u);

  // Only "out" punches (state 1).
  ASSERT_EQ(PQ640_GetUsersIORecordNum(2, ids, 1, &from, &to, &count), PQ640_OK);
  EXPECT_EQ(count, 1u);
  ASSERT_EQ(PQ640_GetUsersIORecord(2, ids, 1, &from, &to, &count, records.data(), nullptr), PQ640_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(records[0].time.hour, 18);
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> g_progress;
void PQ640_CALL OnProgress(std::uint32_t total, std::uint32_t index) { g_progress.emplace_back(total, index); }

TEST_P(EventLogsWithPunches, PlantedInvalidTimeStampEndsTheRead) {
  pq640sim::Faults faults;
  faults.invalid_io_record_at = 2;
  sim_.SetFaults(faults);
  std::vector<PQ640_IORecord> records(6);
  std::uint32_t count = 99;
  g_progress.clear();
  const PQ640_RecordQuery all = Query(0);
  EXPECT_EQ(PQ640_GetIORecord(&all, &count, records.data(), &OnProgress), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(records[2].time.month, 13);
  EXPECT_EQ(g_progress.size(), 3u);
  // The rest of that answer does not spoil the next exchange.
  sim_.ClearFaults();
  EXPECT_EQ(Read(all).size(), 6u);
}

TEST_P(EventLogs, AdministratorLog) {
  PQ640_AdminRecord a{}, b{};
  const PQ640_DateTime t1 = Day(5, 10), t2 = Day(4, 10);
  std::memcpy(a.bytes, &t1, 6);
  std::memcpy(b.bytes, &t2, 6);
  a.bytes[6] = 1;
  b.bytes[6] = 2;
  a.bytes[15] = 0xFF;
  ASSERT_EQ(PQ640_AddAdminRecord(&a), PQ640_OK);
  ASSERT_EQ(PQ640_AddAdminRecord(&b), PQ640_OK);
  const PQ640_RecordQuery all = Query(0);
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAdminRecordNum(&all, &count), PQ640_OK);
  ASSERT_EQ(count, 2u);
  PQ640_AdminRecord read[2] = {};
  g_progress.clear();
  ASSERT_EQ(PQ640_GetAdminRecord(&all, &count, read, &OnProgress), PQ640_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(std::memcmp(&read[0], &b, 16), 0);  // earlier time first
  EXPECT_EQ(std::memcmp(&read[1], &a, 16), 0);
  EXPECT_EQ(g_progress, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{2, 0}, {2, 1}, {2, 2}}));

  const PQ640_RecordQuery admin_one = Query(2, {}, {}, 1);
  ASSERT_EQ(PQ640_DeleteAdminRecord(&admin_one), PQ640_OK);
  ASSERT_EQ(PQ640_GetAdminRecordNum(&all, &count), PQ640_OK);
  EXPECT_EQ(count, 1u);
}

TEST_P(EventLogs, GeneratedLogReadsWhole) {
  pq640sim::StoredRecords stored;
  const std::uint32_t users[3] = {4, 5, 6};
  stored.io_records = pq640sim::GeneratedIoRecords(3000, users, pq640sim::DateTime{26, 12, 8, 12, 0, 0});
  sim_.Model().SetStoredRecords(stored);
  const PQ640_RecordQuery all = Query(0);
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetIORecordNum(&all, &count), PQ640_OK);
  ASSERT_EQ(count, 3000u);
  std::vector<PQ640_IORecord> records(count);
  g_progress.clear();
  ASSERT_EQ(PQ640_GetIORecord(&all, &count, records.data(), &OnProgress), PQ640_OK);
  EXPECT_EQ(count, 3000u);
  EXPECT_EQ(g_progress.size(), 3001u);
  EXPECT_EQ(std::memcmp(&records[2999], stored.io_records[2999].data(), 16), 0);
}

INSTANTIATE_TEST_SUITE_P(Links, EventLogs, ::testing::Values(Link::kTcp, Link::kSerial), LinkName);
INSTANTIATE_TEST_SUITE_P(Links, EventLogsWithPunches, ::testing::Values(Link::kTcp, Link::kSerial), LinkName);

}  // namespace
}  // namespace pq640::integration
