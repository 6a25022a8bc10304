// Enrolment workflows against the simulator over TCP and a serial line:
// enrol, read back byte-identical, list, bulk add, read and delete, clear.
#include <cstring>
#include <memory>
#include <vector>

#include "pq640sim/generated_records.h"
#include "pq640sim/result_bytes.h"
#include "sim_fixture.h"

namespace pq640::integration {
namespace {

using Enrolment = EitherLink;

PQ640_UserData User(std::uint32_t id, std::uint8_t templates, std::uint8_t code_length) {
  PQ640_UserData u{};
  u.id = id;
  u.template_count = templates;
  u.code_length = code_length;
  for (int t = 0; t < templates; ++t) {
    for (int i = 0; i < 480; ++i) u.templates[t][i] = static_cast<std::uint8_t>(id * 31 + t * 7 + i);
  }
  for (int i = 0; i < code_length; ++i) u.code[i] = static_cast<std::uint8_t>('0' + (id + i) % 10);
  for (int i = 0; i < 10; ++i) u.info[i] = static_cast<std::uint8_t>(id >> (i % 4 * 8));
  return u;
}

// The fields in use: what must survive a round trip.
bool SameUser(const PQ640_UserData& a, const PQ640_UserData& b) {
  return a.id == b.id && a.template_count == b.template_count && a.code_length == b.code_length &&
         std::memcmp(a.templates, b.templates, 480u * a.template_count) == 0 &&
         std::memcmp(a.code, b.code, a.code_length) == 0 && std::memcmp(a.info, b.info, 10) == 0;
}

TEST_P(Enrolment, UserRoundTripIsByteIdentical) {
  const PQ640_UserData sent = User(0x00C0FFEE, 2, 10);
  ASSERT_EQ(PQ640_AddUserData(&sent), PQ640_OK);
  PQ640_UserData read{};
  read.id = sent.id;
  ASSERT_EQ(PQ640_GetUserData(&read), PQ640_OK);
  EXPECT_TRUE(SameUser(read, sent));

  // Replacing keeps one record under the ID.
  const PQ640_UserData replacement = User(0x00C0FFEE, 0, 4);
  ASSERT_EQ(PQ640_AddUserData(&replacement), PQ640_OK);
  ASSERT_EQ(PQ640_GetUserData(&read), PQ640_OK);
  EXPECT_EQ(read.template_count, 0);
  EXPECT_EQ(sim_.Snapshot().stored.users.size(), 1u);

  ASSERT_EQ(PQ640_DeleteUserData(sent.id), PQ640_OK);
  EXPECT_EQ(PQ640_GetUserData(&read), pq640sim::kResultUnknownId);
  EXPECT_EQ(PQ640_DeleteUserData(sent.id), pq640sim::kResultUnknownId);
}

TEST_P(Enrolment, AdministratorRoundTripAndClear) {
  PQ640_AdminData sent{};
  sent.id = 12;
  sent.level = 2;
  sent.template_count = 1;
  for (int i = 0; i < 480; ++i) sent.templates[0][i] = static_cast<std::uint8_t>(i * 3);
  sent.code_length = 4;
  std::memcpy(sent.code, "9876", 4);
  std::memcpy(sent.info, "ninebytes", 9);
  ASSERT_EQ(PQ640_AddAdminData(&sent), PQ640_OK);
  PQ640_AdminData read{};
  read.id = 12;
  ASSERT_EQ(PQ640_GetAdminData(&read), PQ640_OK);
  EXPECT_EQ(std::memcmp(&read, &sent, 986), 0);

  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAllAdminData(&count, nullptr, PQ640_LIST_COUNT, nullptr), PQ640_OK);
  EXPECT_EQ(count, 1u);
  ASSERT_EQ(PQ640_DeleteAllAdminData(), PQ640_OK);
  ASSERT_EQ(PQ640_GetAllAdminData(&count, nullptr, PQ640_LIST_COUNT, nullptr), PQ640_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(PQ640_DeleteAdminData(12), pq640sim::kResultUnknownId);
}

TEST_P(Enrolment, ListingInAllThreeModes) {
  for (std::uint32_t id : {30u, 10u, 20u}) {
    const PQ640_UserData u = User(id, static_cast<std::uint8_t>(id / 10 - 1), 0);
    ASSERT_EQ(PQ640_AddUserData(&u), PQ640_OK);
  }
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAllUserData(&count, nullptr, PQ640_LIST_COUNT, nullptr), PQ640_OK);
  EXPECT_EQ(count, 3u);

  std::uint32_t ids[3] = {};
  ASSERT_EQ(PQ640_GetAllUserData(&count, ids, PQ640_LIST_IDS, nullptr), PQ640_OK);
  EXPECT_EQ(ids[0], 10u);
  EXPECT_EQ(ids[1], 20u);
  EXPECT_EQ(ids[2], 30u);

  PQ640_UserData users[3] = {};
  ASSERT_EQ(PQ640_GetAllUserData(&count, users, PQ640_LIST_RECORDS, nullptr), PQ640_OK);
  ASSERT_EQ(count, 3u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(SameUser(users[i], User(10u * (i + 1), static_cast<std::uint8_t>(i), 0)));
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> g_progress;
void PQ640_CALL OnProgress(std::uint32_t total, std::uint32_t index) { g_progress.emplace_back(total, index); }

// A thousand two-template users, about a megabyte each way.
TEST_P(Enrolment, BulkAddReadAndDeleteAThousandUsers) {
  constexpr std::uint32_t kUsers = 1000;
  std::vector<PQ640_UserData> users(kUsers);
  for (std::uint32_t i = 0; i < kUsers; ++i) users[i] = User(5000 + i, 2, 10);
  std::vector<std::uint8_t> results(kUsers, 0xEE);
  g_progress.clear();
  ASSERT_EQ(PQ640_AddUsersData(kUsers, users.data(), results.data(), &OnProgress), PQ640_OK);
  EXPECT_EQ(std::count(results.begin(), results.end(), 0), static_cast<long>(kUsers));
  ASSERT_EQ(g_progress.size(), 2u * kUsers);
  EXPECT_EQ(g_progress.back(), std::make_pair(kUsers, kUsers - 1));

  std::vector<PQ640_UserData> read(kUsers);
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAllUserData(&count, read.data(), PQ640_LIST_RECORDS, nullptr), PQ640_OK);
  ASSERT_EQ(count, kUsers);
  for (std::uint32_t i = 0; i < kUsers; ++i) ASSERT_TRUE(SameUser(read[i], users[i])) << i;

  // A list with an unknown ID in the middle: only the known ones, in order.
  std::uint32_t ids[3] = {5999, 1, 5000};
  count = 3;
  ASSERT_EQ(PQ640_GetUsersData(&count, ids, read.data(), nullptr), PQ640_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_TRUE(SameUser(read[0], users[999]));
  EXPECT_TRUE(SameUser(read[1], users[0]));

  std::vector<std::uint32_t> all_ids(kUsers);
  for (std::uint32_t i = 0; i < kUsers; ++i) all_ids[i] = 5000 + i;
  all_ids[500] = 1;  // not held
  ASSERT_EQ(PQ640_DeleteUsersData(kUsers, all_ids.data(), results.data(), nullptr), PQ640_OK);
  EXPECT_EQ(results[500], pq640sim::kResultUnknownId);
  EXPECT_EQ(results[499], 0);
  EXPECT_EQ(sim_.Snapshot().stored.users.size(), 1u);  // user 5500 was not named
  ASSERT_EQ(PQ640_DeleteAllUserData(), PQ640_OK);
  ASSERT_EQ(PQ640_GetAllUserData(&count, nullptr, PQ640_LIST_COUNT, nullptr), PQ640_OK);
  EXPECT_EQ(count, 0u);
}

TEST_P(Enrolment, TerminalJudgesEachRecordOfABulkAdd) {
  sim_.Model().SetCapacities({.users = 2});
  const PQ640_UserData users[4] = {User(1, 0, 0), User(2, 0, 2), User(3, 0, 0), User(4, 0, 0)};
  std::uint8_t results[4] = {};
  ASSERT_EQ(PQ640_AddUsersData(4, users, results, nullptr), PQ640_OK);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], pq640sim::kResultMalformedRecord);  // code length 2
  EXPECT_EQ(results[2], 0);
  EXPECT_EQ(results[3], pq640sim::kResultTableFull);
}

TEST_P(Enrolment, GeneratedUsersReadBackAsGenerated) {
  pq640sim::StoredRecords stored;
  for (std::uint32_t id = 1; id <= 50; ++id) stored.users[id] = pq640sim::GeneratedUserRecord(id);
  sim_.Model().SetStoredRecords(stored);
  std::vector<PQ640_UserData> read(50);
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAllUserData(&count, read.data(), PQ640_LIST_RECORDS, nullptr), PQ640_OK);
  ASSERT_EQ(count, 50u);
  // Re-encode what arrived and compare with the terminal's own bytes.
  for (std::uint32_t i = 0; i < 50; ++i) {
    const PQ640_UserData& u = read[i];
    std::vector<std::uint8_t> wire(4);
    std::memcpy(wire.data(), &u.id, 4);
    wire.push_back(u.template_count);
    for (int t = 0; t < u.template_count; ++t) wire.insert(wire.end(), u.templates[t], u.templates[t] + 480);
    wire.push_back(u.code_length);
    wire.insert(wire.end(), u.code, u.code + u.code_length);
    wire.insert(wire.end(), u.info, u.info + 10);
    EXPECT_EQ(wire, pq640sim::GeneratedUserRecord(i + 1)) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Links, Enrolment, ::testing::Values(Link::kTcp, Link::kSerial), LinkName);

// Over loopback a megabyte of users arrives at the speed of the link: with the
// receive buffer shrunk only after the handshake this took about a minute.
TEST_F(SimulatorTest, ThousandTwoTemplateUsersReadOverTcpInGoodTime) {
  pq640sim::StoredRecords stored;
  for (std::uint32_t id = 1; id <= 1000; ++id) stored.users[id] = pq640sim::GeneratedUserRecord(id);
  sim_.Model().SetStoredRecords(stored);
  Connect(Link::kTcp);
  auto read = std::make_unique<PQ640_UserData[]>(1000);
  std::uint32_t count = 0;
  PQ640_ResultCode result = PQ640_INVALID_ARGUMENT;
  const long long ms =
      ElapsedMs([&] { result = PQ640_GetAllUserData(&count, read.get(), PQ640_LIST_RECORDS, nullptr); });
  ASSERT_EQ(result, PQ640_OK);
  EXPECT_EQ(count, 1000u);
  EXPECT_LT(ms, 20000);
}

}  // namespace
}  // namespace pq640::integration
