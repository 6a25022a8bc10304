// The Windows DLL against the native simulator, over loopback TCP or a
// pseudo-terminal that Wine presents as a COM port: every family of exports
// in a host's typical sequence, with the progress callback.
#include <chrono>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "simulator_link.h"

namespace pq640::windows_test {
namespace {

std::vector<std::pair<std::uint32_t, std::uint32_t>> g_progress;
void PQ640_CALL OnProgress(std::uint32_t total, std::uint32_t index) { g_progress.emplace_back(total, index); }

PQ640_UserData User(std::uint32_t id, std::uint8_t templates, std::uint8_t code_length) {
  PQ640_UserData u{};
  u.id = id;
  u.template_count = templates;
  u.code_length = code_length;
  for (int t = 0; t < templates; ++t) {
    for (int i = 0; i < PQ640_TEMPLATE_SIZE; ++i) u.templates[t][i] = static_cast<std::uint8_t>(id * 31 + t * 7 + i);
  }
  for (int i = 0; i < code_length; ++i) u.code[i] = static_cast<std::uint8_t>('0' + (id + i) % 10);
  std::memcpy(u.info, "info-bytes", 10);
  return u;
}

// Compares the bytes in use: templates and code beyond the counts are not sent.
bool SameUser(const PQ640_UserData& a, const PQ640_UserData& b) {
  return a.id == b.id && a.template_count == b.template_count && a.code_length == b.code_length &&
         std::memcmp(a.templates, b.templates, PQ640_TEMPLATE_SIZE * a.template_count) == 0 &&
         std::memcmp(a.code, b.code, a.code_length) == 0 && std::memcmp(a.info, b.info, 10) == 0;
}

// Queries in the layout the simulator documents: kind, from, to, user.
PQ640_RecordQuery Query(std::uint8_t kind, PQ640_DateTime from = {}, PQ640_DateTime to = {},
                        std::uint32_t user = 0) {
  PQ640_RecordQuery q{};
  q.bytes[0] = kind;
  std::memcpy(q.bytes + 1, &from, 6);
  std::memcpy(q.bytes + 7, &to, 6);
  std::memcpy(q.bytes + 13, &user, 4);
  return q;
}

PQ640_IORecord Punch(std::uint8_t day, std::uint8_t hour, std::uint32_t user, std::uint8_t state) {
  PQ640_IORecord r{};
  r.time = {26, 11, day, hour, 0, 0};
  std::memcpy(r.data, &user, 4);
  r.data[4] = 1;
  r.data[5] = state;
  return r;
}

using Dll = DllAgainstSimulator;

TEST_F(Dll, ControlClockAndSettingsBlock) {
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(PQ640_SetTermCommMode(0), PQ640_OK);
  EXPECT_EQ(PQ640_SetTermCommMode(3), PQ640_OUT_OF_RANGE);
  EXPECT_EQ(PQ640_SetMatchingPerform(5), PQ640_OK);
  EXPECT_EQ(PQ640_UpdateCommState(2), PQ640_OK);  // 9600 baud, as the link already runs

  // A new terminal ID takes effect at once, for the terminal and the library.
  const std::uint16_t other_id = static_cast<std::uint16_t>(link_.terminal_id ^ 0x40);
  ASSERT_EQ(PQ640_ChangeTerminalID(other_id), PQ640_OK);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);

  // The terminal ignores requests for its old ID: the read runs into its
  // time-out (serial: Win32 comm time-outs, 100 ms a byte plus 2000 ms; TCP:
  // a select of 3000 ms).
  ASSERT_EQ(PQ640_SetTerminalID(link_.terminal_id), PQ640_OK);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PQ640_CheckLink(), link_.serial ? PQ640_READ_FAILED : PQ640_TCP_FAILED);
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(waited, 1900);
  EXPECT_LE(waited, 15000);
  ASSERT_EQ(PQ640_SetTerminalID(other_id), PQ640_OK);
  ASSERT_EQ(PQ640_ChangeTerminalID(link_.terminal_id), PQ640_OK);

  const PQ640_DateTime set{26, 12, 8, 10, 20, 30};
  ASSERT_EQ(PQ640_SetDateTime(&set), PQ640_OK);
  PQ640_DateTime read{};
  ASSERT_EQ(PQ640_GetDateTime(&read), PQ640_OK);
  EXPECT_EQ(read.year, 26);
  EXPECT_EQ(read.month, 12);
  EXPECT_EQ(read.day, 8);
  EXPECT_EQ(read.hour, 10);
  const PQ640_DateTime impossible{26, 2, 30, 0, 0, 0};
  EXPECT_EQ(PQ640_SetDateTime(&impossible), PQ640_INVALID_ARGUMENT);

  PQ640_SystemData block{};
  ASSERT_EQ(PQ640_GetSystemData(&block), PQ640_OK);
  ASSERT_EQ(PQ640_SetSystemData(&block), PQ640_OK);
  PQ640_SystemData again{};
  ASSERT_EQ(PQ640_GetSystemData(&again), PQ640_OK);
  EXPECT_EQ(std::memcmp(&block, &again, sizeof block), 0);
}

TEST_F(Dll, UsersSingleAndInBulk) {
  const PQ640_UserData single = User(0x00C0FFEE, 2, 10);
  ASSERT_EQ(PQ640_AddUserData(&single), PQ640_OK);
  PQ640_UserData read{};
  read.id = single.id;
  ASSERT_EQ(PQ640_GetUserData(&read), PQ640_OK);
  EXPECT_TRUE(SameUser(read, single));
  ASSERT_EQ(PQ640_DeleteUserData(single.id), PQ640_OK);
  EXPECT_GT(PQ640_DeleteUserData(single.id), 0) << "the terminal knows no such user";

  const std::vector<PQ640_UserData> batch = {User(11, 0, 4), User(12, 1, 0), User(13, 2, 6)};
  std::uint8_t results[3] = {0xEE, 0xEE, 0xEE};
  g_progress.clear();
  ASSERT_EQ(PQ640_AddUsersData(3, batch.data(), results, &OnProgress), PQ640_OK);
  EXPECT_EQ(results[0] | results[1] | results[2], 0);
  EXPECT_EQ(g_progress.size(), 6u) << "one call before each record and before each result";

  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAllUserData(&count, nullptr, PQ640_LIST_COUNT, nullptr), PQ640_OK);
  ASSERT_EQ(count, 3u);
  std::uint32_t listed[3] = {};
  ASSERT_EQ(PQ640_GetAllUserData(&count, listed, PQ640_LIST_IDS, nullptr), PQ640_OK);
  EXPECT_EQ(listed[0] + listed[1] + listed[2], 36u);

  const std::uint32_t wanted[2] = {13, 99};
  std::vector<PQ640_UserData> got(2);
  count = 2;
  g_progress.clear();
  ASSERT_EQ(PQ640_GetUsersData(&count, wanted, got.data(), &OnProgress), PQ640_OK);
  ASSERT_EQ(count, 1u) << "an unknown ID is left out";
  EXPECT_TRUE(SameUser(got[0], batch[2]));
  EXPECT_EQ(g_progress, (decltype(g_progress){{1, 0}}));

  const std::uint32_t doomed[2] = {11, 12};
  ASSERT_EQ(PQ640_DeleteUsersData(2, doomed, results, nullptr), PQ640_OK);
  EXPECT_EQ(results[0] | results[1], 0);
  ASSERT_EQ(PQ640_DeleteAllUserData(), PQ640_OK);
  ASSERT_EQ(PQ640_GetAllUserData(&count, nullptr, PQ640_LIST_COUNT, nullptr), PQ640_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(Dll, Administrators) {
  PQ640_AdminData sent{};
  sent.id = 12;
  sent.level = 2;
  sent.template_count = 1;
  for (int i = 0; i < PQ640_TEMPLATE_SIZE; ++i) sent.templates[0][i] = static_cast<std::uint8_t>(i * 3);
  sent.code_length = 4;
  std::memcpy(sent.code, "9876", 4);
  std::memcpy(sent.info, "ninebytes", 9);
  ASSERT_EQ(PQ640_AddAdminData(&sent), PQ640_OK);
  PQ640_AdminData read{};
  read.id = 12;
  ASSERT_EQ(PQ640_GetAdminData(&read), PQ640_OK);
  EXPECT_EQ(std::memcmp(&read, &sent, offsetof(PQ640_AdminData, reserved)), 0);

  std::uint32_t count = 0;
  std::vector<PQ640_AdminData> all(1);
  g_progress.clear();
  ASSERT_EQ(PQ640_GetAllAdminData(&count, all.data(), PQ640_LIST_RECORDS, &OnProgress), PQ640_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(all[0].id, 12u);
  EXPECT_EQ(g_progress, (decltype(g_progress){{1, 0}}));
  ASSERT_EQ(PQ640_DeleteAdminData(12), PQ640_OK);
  ASSERT_EQ(PQ640_AddAdminData(&sent), PQ640_OK);
  ASSERT_EQ(PQ640_DeleteAllAdminData(), PQ640_OK);
  ASSERT_EQ(PQ640_GetAllAdminData(&count, nullptr, PQ640_LIST_COUNT, nullptr), PQ640_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(Dll, IoLogByQueryAndPerUser) {
  for (const PQ640_IORecord& r : {Punch(3, 9, 7, 0), Punch(1, 9, 7, 0), Punch(1, 17, 7, 1), Punch(2, 8, 8, 0)}) {
    ASSERT_EQ(PQ640_AddIORecord(&r), PQ640_OK);
  }
  const PQ640_RecordQuery all = Query(0);
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetIORecordNum(&all, &count), PQ640_OK);
  ASSERT_EQ(count, 4u);
  std::vector<PQ640_IORecord> records(count);
  g_progress.clear();
  ASSERT_EQ(PQ640_GetIORecord(&all, &count, records.data(), &OnProgress), PQ640_OK);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(records[0].time.day, 1) << "kept in time order";
  EXPECT_EQ(records[3].time.day, 3);
  EXPECT_EQ(g_progress.size(), 5u) << "before each record and once after the last";

  const std::uint32_t ids[1] = {7};
  const PQ640_DateTime from{26, 11, 1, 12, 0, 0};
  const PQ640_DateTime to{26, 11, 3, 12, 0, 0};
  ASSERT_EQ(PQ640_GetUsersIORecordNum(1, ids, 0xFF, &from, &to, &count), PQ640_OK);
  ASSERT_EQ(count, 2u);
  ASSERT_EQ(PQ640_GetUsersIORecord(1, ids, 0xFF, &from, &to, &count, records.data(), nullptr), PQ640_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(records[0].time.hour, 17);

  const PQ640_RecordQuery first_day = Query(1, {26, 11, 1, 0, 0, 0}, {26, 11, 1, 23, 59, 59});
  ASSERT_EQ(PQ640_DeleteIORecord(&first_day), PQ640_OK);
  ASSERT_EQ(PQ640_GetIORecordNum(&all, &count), PQ640_OK);
  EXPECT_EQ(count, 2u);
}

TEST_F(Dll, AdministratorLog) {
  PQ640_AdminRecord a{};
  const PQ640_DateTime when{26, 11, 5, 10, 0, 0};
  std::memcpy(a.bytes, &when, 6);
  a.bytes[6] = 1;
  a.bytes[15] = 0xFF;
  ASSERT_EQ(PQ640_AddAdminRecord(&a), PQ640_OK);
  const PQ640_RecordQuery all = Query(0);
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAdminRecordNum(&all, &count), PQ640_OK);
  ASSERT_EQ(count, 1u);
  PQ640_AdminRecord read{};
  ASSERT_EQ(PQ640_GetAdminRecord(&all, &count, &read, nullptr), PQ640_OK);
  EXPECT_EQ(std::memcmp(&read, &a, sizeof a), 0);
  ASSERT_EQ(PQ640_DeleteAdminRecord(&all), PQ640_OK);
  ASSERT_EQ(PQ640_GetAdminRecordNum(&all, &count), PQ640_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(Dll, LinkSpecificBehaviour) {
  if (link_.serial) {
    // Wakes at 9600 baud, sleeps 3 s, and leaves the line as it was.
    EXPECT_EQ(PQ640_WakeUp(), PQ640_OK);
    EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
    EXPECT_EQ(PQ640_ClosePort(), PQ640_OK);
    EXPECT_EQ(PQ640_ClosePort(), PQ640_CLOSE_FAILED);
    EXPECT_EQ(PQ640_OpenPort(), PQ640_OPEN_FAILED) << "the port number is forgotten on close";
  } else {
    EXPECT_EQ(PQ640_WakeUp(), PQ640_OK);
    // Nobody listens on this loopback address: refused, not waited for.
    ASSERT_EQ(PQ640_SetTerminalIPAddr("127.254.253.252"), PQ640_OK);
    EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
    ASSERT_EQ(PQ640_SetTerminalIPAddr(link_.address.c_str()), PQ640_OK);
    EXPECT_EQ(PQ640_CheckLink(), PQ640_OK) << "a fresh socket after the failure";
    EXPECT_EQ(PQ640_ClosePort(), PQ640_OK);
    EXPECT_EQ(PQ640_CheckLink(), PQ640_SOCKET_FAILED) << "the socket layer stopped with the close";
  }
}

}  // namespace
}  // namespace pq640::windows_test
