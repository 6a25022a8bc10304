// The terminal's IO and administrator logs: queries, order, capacity, the
// generated start records and the planted invalid record.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <span>

#include "pq640sim/date_time.h"
#include "pq640sim/generated_records.h"
#include "pq640sim/terminal_model.h"
#include "record_bytes.h"

namespace pq640sim {
namespace {

using test::AdminRecordBytes;
using test::Bytes;
using test::IoRecordBytes;
using test::Query;
using test::Time;
using test::U32;
using test::UsersQuery;

constexpr std::uint8_t kAll = 0, kRange = 1, kUser = 2, kUserInRange = 3;

Time At(std::uint8_t day, std::uint8_t hour, std::uint8_t minute = 0) { return {25, 3, day, hour, minute, 0}; }

// The records of a Get answer, after checking its count.
std::vector<Bytes> Records(const Reply& reply) {
  EXPECT_EQ(reply.result, kResultOk);
  std::vector<Bytes> records;
  if (reply.payload.size() < 4) return records;
  for (std::size_t offset = 4; offset + 16 <= reply.payload.size(); offset += 16) {
    records.emplace_back(reply.payload.begin() + offset, reply.payload.begin() + offset + 16);
  }
  EXPECT_EQ(Bytes(reply.payload.begin(), reply.payload.begin() + 4), U32(records.size()));
  EXPECT_EQ(reply.payload.size(), 4 + 16 * records.size());
  return records;
}

class EventLogModelTest : public ::testing::Test {
 protected:
  void AddIo(const Bytes& record) { ASSERT_EQ(model_.Handle(75, record).result, kResultOk); }

  // Get (72) and Num (73) for one query, checking that they agree.
  std::vector<Bytes> GetIo(const Bytes& query) {
    const std::vector<Bytes> records = Records(model_.Handle(72, query));
    EXPECT_EQ(model_.Handle(73, query).payload, U32(records.size()));
    return records;
  }
  std::vector<Bytes> GetUsersIo(const Bytes& payload) {
    const std::vector<Bytes> records = Records(model_.Handle(76, payload));
    EXPECT_EQ(model_.Handle(77, payload).payload, U32(records.size()));
    return records;
  }

  std::shared_ptr<std::chrono::system_clock::time_point> host_now_ =
      std::make_shared<std::chrono::system_clock::time_point>(std::chrono::sys_days{
          std::chrono::year{2025} / 3 / 31});
  TerminalModel model_{TerminalSettings{}, TerminalClock([now = host_now_] { return *now; })};
};

TEST_F(EventLogModelTest, KeepsRecordsInTimeOrderAndEqualTimesInTheOrderAdded) {
  const Bytes late = IoRecordBytes(At(3, 9), 1, 0);
  const Bytes early_first = IoRecordBytes(At(1, 8), 2, 0);
  const Bytes middle = IoRecordBytes(At(2, 8), 3, 1);
  const Bytes early_second = IoRecordBytes(At(1, 8), 4, 1);
  for (const Bytes& record : {late, early_first, middle, early_second}) AddIo(record);
  EXPECT_EQ(GetIo(Query(kAll)), (std::vector<Bytes>{early_first, early_second, middle, late}));
}

TEST_F(EventLogModelTest, SelectsByEachQueryKindWithTimeRangesIncludingBothEnds) {
  const Bytes a = IoRecordBytes(At(1, 8), 1, 0);
  const Bytes b = IoRecordBytes(At(1, 17), 2, 1);
  const Bytes c = IoRecordBytes(At(2, 8), 1, 1);
  const Bytes d = IoRecordBytes(At(3, 8), 1, 0);
  for (const Bytes& record : {a, b, c, d}) AddIo(record);

  EXPECT_EQ(GetIo(Query(kAll)).size(), 4u);
  EXPECT_EQ(GetIo(Query(kRange, At(1, 17), At(2, 8))), (std::vector<Bytes>{b, c}));
  EXPECT_EQ(GetIo(Query(kRange, At(1, 17, 1), At(2, 7, 59))), std::vector<Bytes>{});
  EXPECT_EQ(GetIo(Query(kRange, At(3, 8), At(1, 8))), std::vector<Bytes>{});  // reversed
  EXPECT_EQ(GetIo(Query(kUser, {}, {}, 1)), (std::vector<Bytes>{a, c, d}));
  EXPECT_EQ(GetIo(Query(kUser, {}, {}, 9)), std::vector<Bytes>{});
  EXPECT_EQ(GetIo(Query(kUserInRange, At(1, 0), At(2, 8), 1)), (std::vector<Bytes>{a, c}));
  // The time fields are ignored by kinds 0 and 2.
  EXPECT_EQ(GetIo(Query(kAll, At(2, 0), At(2, 1))).size(), 4u);
}

TEST_F(EventLogModelTest, RefusesQueriesOfAnUnknownKind) {
  AddIo(IoRecordBytes(At(1, 8), 1, 0));
  for (std::uint8_t command : {64, 65, 66, 72, 73, 74}) {
    EXPECT_EQ(model_.Handle(command, Query(4)).result, kResultUnknownQueryKind) << int(command);
  }
  EXPECT_EQ(model_.Snapshot().stored.io_records.size(), 1u);
}

TEST_F(EventLogModelTest, DeletesWhatTheQuerySelects) {
  const Bytes keep_other_user = IoRecordBytes(At(2, 8), 2, 0);
  const Bytes keep_outside = IoRecordBytes(At(5, 8), 1, 0);
  for (const Bytes& record : {IoRecordBytes(At(1, 8), 1, 0), keep_other_user,
                              IoRecordBytes(At(3, 8), 1, 1), keep_outside}) {
    AddIo(record);
  }
  ASSERT_EQ(model_.Handle(74, Query(kUserInRange, At(1, 8), At(3, 8), 1)).result, kResultOk);
  EXPECT_EQ(GetIo(Query(kAll)), (std::vector<Bytes>{keep_other_user, keep_outside}));
  ASSERT_EQ(model_.Handle(74, Query(kAll)).result, kResultOk);
  EXPECT_TRUE(model_.Snapshot().stored.io_records.empty());
}

TEST_F(EventLogModelTest, RefusesAddsToAFullLogAndRecordsWithoutARealTime) {
  model_.SetCapacities({.io_records = 2, .admin_records = 1});
  AddIo(IoRecordBytes(At(1, 8), 1, 0));
  AddIo(IoRecordBytes(At(1, 9), 1, 0));
  EXPECT_EQ(model_.Handle(75, IoRecordBytes(At(1, 7), 1, 0)).result, kResultLogFull);
  ASSERT_EQ(model_.Handle(67, AdminRecordBytes(At(1, 8), 1, 1, 5)).result, kResultOk);
  EXPECT_EQ(model_.Handle(67, AdminRecordBytes(At(1, 9), 1, 1, 5)).result, kResultLogFull);
  // Deleting makes room again.
  ASSERT_EQ(model_.Handle(74, Query(kRange, At(1, 8), At(1, 8))).result, kResultOk);
  AddIo(IoRecordBytes(At(1, 7), 1, 0));

  EXPECT_EQ(model_.Handle(75, IoRecordBytes({25, 13, 1, 0, 0, 0}, 1, 0)).result,
            kResultInvalidDateTime);
  EXPECT_EQ(model_.Handle(67, AdminRecordBytes({25, 2, 29, 0, 0, 0}, 1, 1, 5)).result,
            kResultInvalidDateTime);
  EXPECT_EQ(model_.Snapshot().stored.io_records.size(), 2u);
}

TEST_F(EventLogModelTest, QueriesTheAdministratorLogByAdministratorId) {
  const Bytes first = AdminRecordBytes(At(1, 8), 7, 3, 100);
  const Bytes second = AdminRecordBytes(At(2, 8), 8, 4, 7);
  for (const Bytes& record : {second, first}) ASSERT_EQ(model_.Handle(67, record).result, kResultOk);
  EXPECT_EQ(Records(model_.Handle(64, Query(kAll))), (std::vector<Bytes>{first, second}));
  EXPECT_EQ(Records(model_.Handle(64, Query(kUser, {}, {}, 7))), std::vector<Bytes>{first});
  EXPECT_EQ(model_.Handle(65, Query(kRange, At(2, 0), At(9, 0))).payload, U32(1));
  ASSERT_EQ(model_.Handle(66, Query(kUser, {}, {}, 8)).result, kResultOk);
  EXPECT_EQ(model_.Snapshot().stored.admin_records, (std::vector<LogRecord>{[&] {
              LogRecord record{};
              std::copy(first.begin(), first.end(), record.begin());
              return record;
            }()}));
  // The IO log is a separate log.
  EXPECT_EQ(model_.Handle(73, Query(kAll)).payload, U32(0));
}

TEST_F(EventLogModelTest, ReadsTheRecordsOfAUserListByTimeRangeAndInOutState) {
  const Bytes in1 = IoRecordBytes(At(1, 8), 1, 0);
  const Bytes out1 = IoRecordBytes(At(1, 17), 1, 1);
  const Bytes in2 = IoRecordBytes(At(2, 8), 2, 0);
  const Bytes in3 = IoRecordBytes(At(2, 9), 3, 0);
  const Bytes out3 = IoRecordBytes(At(4, 17), 3, 1);
  for (const Bytes& record : {in1, out1, in2, in3, out3}) AddIo(record);

  EXPECT_EQ(GetUsersIo(UsersQuery({3, 1}, 0xFF, At(1, 8), At(4, 17))),
            (std::vector<Bytes>{in1, out1, in3, out3}));
  EXPECT_EQ(GetUsersIo(UsersQuery({1, 2, 3}, 0, At(1, 0), At(9, 0))),
            (std::vector<Bytes>{in1, in2, in3}));
  EXPECT_EQ(GetUsersIo(UsersQuery({1, 3}, 1, At(1, 17), At(1, 17))), std::vector<Bytes>{out1});
  EXPECT_EQ(GetUsersIo(UsersQuery({1, 3}, 1, At(1, 17, 1), At(4, 16))), std::vector<Bytes>{});
  EXPECT_EQ(GetUsersIo(UsersQuery({99}, 0xFF, At(1, 0), At(9, 0))), std::vector<Bytes>{});
}

TEST_F(EventLogModelTest, FindsATimeRangeInAHundredThousandRecords) {
  StoredRecords seeded;
  for (std::uint32_t i = 0; i < 100000; ++i) {
    LogRecord record{25, 1, static_cast<std::uint8_t>(1 + i / 5000), static_cast<std::uint8_t>(i / 60 % 24),
                     static_cast<std::uint8_t>(i % 60), 0};
    record[6] = static_cast<std::uint8_t>(i);
    seeded.io_records.push_back(record);
  }
  model_.SetStoredRecords(seeded);
  // Day 3 holds records 10000..14999.
  const std::vector<Bytes> day = GetIo(Query(kRange, {25, 1, 3, 0, 0, 0}, {25, 1, 3, 23, 59, 59}));
  ASSERT_EQ(day.size(), 5000u);
  for (std::size_t i = 1; i < day.size(); ++i) {
    ASSERT_LE(Bytes(day[i - 1].begin(), day[i - 1].begin() + 6), Bytes(day[i].begin(), day[i].begin() + 6));
  }
  EXPECT_EQ(GetIo(Query(kAll)).size(), 100000u);
}

TEST_F(EventLogModelTest, PlantsMonthThirteenInOneRecordOfEachIoAnswerWhileTheFaultIsSet) {
  for (std::uint8_t day = 1; day <= 5; ++day) AddIo(IoRecordBytes(At(day, 8), 1, 0));
  ASSERT_EQ(model_.Handle(67, AdminRecordBytes(At(1, 8), 1, 1, 1)).result, kResultOk);
  model_.SetInvalidIoRecordAt(2);
  for (int repeat = 0; repeat < 2; ++repeat) {
    const std::vector<Bytes> records = Records(model_.Handle(72, Query(kAll)));
    ASSERT_EQ(records.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(records[i][1], i == 2 ? 13 : 3) << i;
      EXPECT_EQ(records[i][2], i + 1) << i;
    }
  }
  EXPECT_EQ(Records(model_.Handle(76, UsersQuery({1}, 0xFF, At(1, 0), At(9, 0))))[2][1], 13);
  // Shorter answers, the count and the administrator log are untouched.
  EXPECT_EQ(Records(model_.Handle(72, Query(kRange, At(1, 0), At(2, 9))))[1][1], 3);
  EXPECT_EQ(model_.Handle(73, Query(kAll)).payload, U32(5));
  EXPECT_EQ(Records(model_.Handle(64, Query(kAll)))[0][1], 3);
  EXPECT_EQ(model_.Snapshot().stored.io_records[2][1], 3);
  model_.SetInvalidIoRecordAt(std::nullopt);
  EXPECT_EQ(Records(model_.Handle(72, Query(kAll)))[2][1], 3);
}

TEST_F(EventLogModelTest, GeneratesValidRecordsInTimeOrderBeforeTheClocksDateOverTheUsersHeld) {
  ASSERT_TRUE(model_.SetClock(DateTime{25, 3, 31, 12, 0, 0}));
  model_.Generate({.users = 7, .administrators = 2, .io_records = 1000, .admin_records = 50});
  const ModelSnapshot held = model_.Snapshot();
  ASSERT_EQ(held.stored.io_records.size(), 1000u);
  ASSERT_EQ(held.stored.admin_records.size(), 50u);
  const DateTime today{25, 3, 31, 0, 0, 0};
  const auto month_before = ToSysSeconds(today) - std::chrono::days(kGeneratedLogDays);
  std::set<std::uint32_t> users_seen;
  std::set<std::uint8_t> states_seen;
  auto previous = month_before;
  for (std::size_t i = 0; i < held.stored.io_records.size(); ++i) {
    const LogRecord& record = held.stored.io_records[i];
    const DateTime time = FromBytes(std::span(record).first<6>());
    ASSERT_TRUE(IsValidDateTime(time)) << i;
    ASSERT_LT(ToSysSeconds(time), ToSysSeconds(today)) << i;
    ASSERT_GE(ToSysSeconds(time), previous) << i;
    previous = ToSysSeconds(time);
    users_seen.insert(record[6] | record[7] << 8 | record[8] << 16 | record[9] << 24);
    states_seen.insert(record[11]);
  }
  EXPECT_EQ(users_seen, (std::set<std::uint32_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(states_seen, (std::set<std::uint8_t>{0, 1}));
  for (const LogRecord& record : held.stored.admin_records) {
    EXPECT_TRUE(record[6] == 1 || record[6] == 2);
    EXPECT_TRUE(IsValidDateTime(FromBytes(std::span(record).first<6>())));
  }
  // Deterministic: the same clock and counts give the same logs.
  EXPECT_EQ(GeneratedIoRecords(1000, std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7}, today),
            held.stored.io_records);
}

TEST_F(EventLogModelTest, SpreadsGeneratedRecordsOverIdsOneToNWithoutUsers) {
  const std::vector<LogRecord> records = GeneratedIoRecords(4, {}, DateTime{25, 3, 31, 12, 0, 0});
  ASSERT_EQ(records.size(), 4u);
  for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(records[i][6], i + 1);
  EXPECT_EQ(GeneratedIoRecords(4, {}, DateTime{25, 3, 31, 12, 0, 0}), records);
}

}  // namespace
}  // namespace pq640sim
