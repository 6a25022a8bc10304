// The terminal's user and administrator tables, command by command.
#include <gtest/gtest.h>

#include "pq640sim/generated_records.h"
#include "pq640sim/terminal_model.h"
#include "record_bytes.h"

namespace pq640sim {
namespace {

using test::AdminWire;
using test::Batch;
using test::Bytes;
using test::IdList;
using test::U32;
using test::UserWire;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

class EnrolmentModelTest : public ::testing::Test {
 protected:
  std::uint8_t Result(std::uint8_t command, const Bytes& payload) {
    return model_.Handle(command, payload).result;
  }
  Bytes Payload(std::uint8_t command, const Bytes& payload) {
    const Reply reply = model_.Handle(command, payload);
    EXPECT_EQ(reply.result, kResultOk) << "command " << int(command);
    return reply.payload;
  }

  TerminalModel model_;
};

TEST_F(EnrolmentModelTest, ReadsBackAUserByteForByteAndReplacesItOnAddingTheSameId) {
  const Bytes first = UserWire(42, 2, 10, 0x11);
  ASSERT_EQ(Result(16, first), kResultOk);
  EXPECT_EQ(Payload(19, U32(42)), first);

  const Bytes second = UserWire(42, 0, 4, 0x22);
  ASSERT_EQ(Result(16, second), kResultOk);
  EXPECT_EQ(Payload(19, U32(42)), second);
  EXPECT_EQ(model_.Snapshot().stored.users.size(), 1u);
}

TEST_F(EnrolmentModelTest, ReadsBackAnAdministratorByteForByte) {
  const Bytes record = AdminWire(7, 2, 1, 4);
  ASSERT_EQ(Result(32, record), kResultOk);
  EXPECT_EQ(Payload(35, U32(7)), record);
  // Administrators and users are separate tables.
  EXPECT_EQ(Result(19, U32(7)), kResultUnknownId);
}

TEST_F(EnrolmentModelTest, AnswersUnknownIdForGetAndDeleteOfIdsNotHeld) {
  ASSERT_EQ(Result(16, UserWire(1, 0, 0)), kResultOk);
  ASSERT_EQ(Result(32, AdminWire(1, 0, 0, 0)), kResultOk);
  for (std::uint8_t command : {17, 19, 33, 35}) {
    EXPECT_EQ(Result(command, U32(2)), kResultUnknownId) << int(command);
  }
  EXPECT_EQ(Result(17, U32(1)), kResultOk);
  EXPECT_EQ(Result(17, U32(1)), kResultUnknownId);
  EXPECT_EQ(Result(33, U32(1)), kResultOk);
  EXPECT_TRUE(model_.Snapshot().stored.administrators.empty());
}

TEST_F(EnrolmentModelTest, RefusesShortCodesAndAdministratorLevelsAboveTwo) {
  for (std::uint8_t length : {1, 2, 3}) EXPECT_EQ(Result(16, UserWire(1, 1, length)), kResultMalformedRecord);
  EXPECT_EQ(Result(32, AdminWire(1, 3, 0, 0)), kResultMalformedRecord);
  EXPECT_EQ(Result(32, AdminWire(1, 0, 0, 3)), kResultMalformedRecord);
  const ModelSnapshot after = model_.Snapshot();
  EXPECT_TRUE(after.stored.users.empty());
  EXPECT_TRUE(after.stored.administrators.empty());
}

TEST_F(EnrolmentModelTest, RefusesNewIdsWhenATableIsFullButStillReplacesHeldOnes) {
  model_.SetCapacities({.users = 2, .administrators = 1});
  ASSERT_EQ(Result(16, UserWire(1, 0, 0)), kResultOk);
  ASSERT_EQ(Result(16, UserWire(2, 0, 0)), kResultOk);
  EXPECT_EQ(Result(16, UserWire(3, 0, 0)), kResultTableFull);
  EXPECT_EQ(Result(16, UserWire(2, 1, 0)), kResultOk);
  ASSERT_EQ(Result(32, AdminWire(1, 0, 0, 0)), kResultOk);
  EXPECT_EQ(Result(32, AdminWire(2, 0, 0, 0)), kResultTableFull);
  // Room again after a delete.
  ASSERT_EQ(Result(17, U32(1)), kResultOk);
  EXPECT_EQ(Result(16, UserWire(3, 0, 0)), kResultOk);
}

TEST_F(EnrolmentModelTest, AnswersOneResultPerRecordOfABulkAdd) {
  model_.SetCapacities({.users = 3});
  ASSERT_EQ(Result(16, UserWire(5, 0, 0, 0x01)), kResultOk);
  const Bytes payload = Batch(5, {UserWire(9, 2, 10), UserWire(5, 1, 4, 0x02), UserWire(6, 0, 2),
                                  UserWire(7, 0, 0), UserWire(8, 0, 0)});
  // Added, replaced, malformed, added (third user), full.
  EXPECT_EQ(Payload(21, payload), (Bytes{kResultOk, kResultOk, kResultMalformedRecord, kResultOk,
                                         kResultTableFull}));
  const ModelSnapshot after = model_.Snapshot();
  ASSERT_EQ(after.stored.users.size(), 3u);
  EXPECT_EQ(after.stored.users.at(5), UserWire(5, 1, 4, 0x02));
  EXPECT_EQ(after.stored.users.at(9), UserWire(9, 2, 10));
}

TEST_F(EnrolmentModelTest, AnswersOneResultPerIdOfABulkDelete) {
  ASSERT_EQ(Result(21, Batch(2, {UserWire(1, 0, 0), UserWire(2, 0, 0)})), kResultOk);
  EXPECT_EQ(Payload(22, IdList({2, 3, 2, 1})),
            (Bytes{kResultOk, kResultUnknownId, kResultUnknownId, kResultOk}));
  EXPECT_TRUE(model_.Snapshot().stored.users.empty());
}

TEST_F(EnrolmentModelTest, GetUsersDataSendsOnlyHeldIdsInTheOrderAsked) {
  const Bytes one = UserWire(1, 1, 4, 0x10);
  const Bytes two = UserWire(2, 0, 0, 0x20);
  const Bytes three = UserWire(3, 2, 10, 0x30);
  ASSERT_EQ(Result(21, Batch(3, {one, two, three})), kResultOk);
  EXPECT_EQ(Payload(23, IdList({3, 99, 1})), Concat({U32(2), three, one}));
  EXPECT_EQ(Payload(23, IdList({98, 99})), U32(0));
}

TEST_F(EnrolmentModelTest, ListsUsersInAscendingIdOrderInEachMode) {
  const Bytes a = UserWire(300, 1, 4, 0x01);
  const Bytes b = UserWire(2, 0, 0, 0x02);
  const Bytes c = UserWire(0x01000000, 2, 10, 0x03);
  for (const Bytes& record : {a, b, c}) ASSERT_EQ(Result(16, record), kResultOk);
  EXPECT_EQ(Payload(20, {0}), U32(3));
  EXPECT_EQ(Payload(20, {1}), Concat({U32(3), U32(2), U32(300), U32(0x01000000)}));
  EXPECT_EQ(Payload(20, {2}), Concat({U32(3), b, a, c}));
  // Other modes: the count is all the host reads.
  EXPECT_EQ(Payload(20, {3}), U32(3));
  EXPECT_EQ(Payload(20, {0xFF}), U32(3));
}

TEST_F(EnrolmentModelTest, ListsAdministratorsInAscendingIdOrderInEachMode) {
  const Bytes a = AdminWire(20, 1, 1, 4);
  const Bytes b = AdminWire(10, 2, 0, 0);
  for (const Bytes& record : {a, b}) ASSERT_EQ(Result(32, record), kResultOk);
  EXPECT_EQ(Payload(36, {0}), U32(2));
  EXPECT_EQ(Payload(36, {1}), Concat({U32(2), U32(10), U32(20)}));
  EXPECT_EQ(Payload(36, {2}), Concat({U32(2), b, a}));
  EXPECT_EQ(Payload(36, {9}), U32(2));
}

TEST_F(EnrolmentModelTest, ClearsOnlyTheTableAsked) {
  ASSERT_EQ(Result(16, UserWire(1, 0, 0)), kResultOk);
  ASSERT_EQ(Result(32, AdminWire(1, 0, 0, 0)), kResultOk);
  EXPECT_EQ(Result(18, {}), kResultOk);
  EXPECT_TRUE(model_.Snapshot().stored.users.empty());
  EXPECT_EQ(model_.Snapshot().stored.administrators.size(), 1u);
  EXPECT_EQ(Result(34, {}), kResultOk);
  EXPECT_TRUE(model_.Snapshot().stored.administrators.empty());
  EXPECT_EQ(Payload(20, {0}), U32(0));
}

TEST_F(EnrolmentModelTest, StartsWithGeneratedRecordsThatTheCommandsSendBackUnchanged) {
  model_.Generate({.users = 3000, .administrators = 5});
  const ModelSnapshot held = model_.Snapshot();
  ASSERT_EQ(held.stored.users.size(), 3000u);
  ASSERT_EQ(held.stored.administrators.size(), 5u);
  EXPECT_EQ(Payload(19, U32(1234)), GeneratedUserRecord(1234));
  EXPECT_EQ(Payload(35, U32(5)), GeneratedAdminRecord(5));
  // The full listing: every record in ID order, as generated.
  Bytes expected = U32(3000);
  for (std::uint32_t id = 1; id <= 3000; ++id) {
    const Bytes record = GeneratedUserRecord(id);
    expected.insert(expected.end(), record.begin(), record.end());
  }
  EXPECT_EQ(Payload(20, {2}), expected);
}

TEST_F(EnrolmentModelTest, GeneratesRecordsTheTerminalWouldAcceptWithDataFromTheId) {
  for (std::uint32_t id : {1u, 2u, 77u, 3000u}) {
    const Bytes user = GeneratedUserRecord(id);
    EXPECT_EQ(user, GeneratedUserRecord(id));
    EXPECT_EQ(Bytes(user.begin(), user.begin() + 4), U32(id));
    const Bytes admin = GeneratedAdminRecord(id);
    // Fresh model per ID: accepted by the commands as they stand.
    TerminalModel model;
    EXPECT_EQ(model.Handle(16, user).result, kResultOk);
    EXPECT_EQ(model.Handle(32, admin).result, kResultOk);
  }
  // Templates differ between IDs, so a record filed under another ID shows.
  const Bytes one = GeneratedUserRecord(1);
  const Bytes two = GeneratedUserRecord(2);
  EXPECT_NE(Bytes(one.begin() + 5, one.begin() + 965), Bytes(two.begin() + 5, two.begin() + 965));
}

TEST_F(EnrolmentModelTest, CapsGeneratedTablesAtTheirCapacity) {
  model_.SetCapacities({.users = 10, .administrators = 2});
  model_.Generate({.users = 50, .administrators = 50});
  EXPECT_EQ(model_.Snapshot().stored.users.size(), 10u);
  EXPECT_EQ(model_.Snapshot().stored.administrators.size(), 2u);
}

}  // namespace
}  // namespace pq640sim
