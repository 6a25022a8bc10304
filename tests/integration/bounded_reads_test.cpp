// A punch between a host's count and its read, over TCP and a serial line:
// the bounded reads report the new count instead of writing past the array
// sized from the count, and the host's second try gets every record.
#include <cstring>
#include <vector>

#include "sim_fixture.h"

namespace pq640::integration {
namespace {

using BoundedReads = EitherLink;

PQ640_IORecord Punch(std::uint8_t day, std::uint32_t user) {
  PQ640_IORecord r{};
  r.time = {26, 11, day, 9, 0, 0};
  std::memcpy(r.data, &user, 4);
  return r;
}

TEST_P(BoundedReads, APunchBetweenCountAndReadIsReportedThenRead) {
  for (std::uint8_t day = 1; day <= 5; ++day) {
    const PQ640_IORecord punch = Punch(day, 7);
    ASSERT_EQ(PQ640_AddIORecord(&punch), PQ640_OK);
  }
  const PQ640_RecordQuery all{};
  std::uint32_t counted = 0;
  ASSERT_EQ(PQ640_GetIORecordNum(&all, &counted), PQ640_OK);
  ASSERT_EQ(counted, 5u);

  const PQ640_IORecord late = Punch(6, 8);
  ASSERT_EQ(PQ640_AddIORecord(&late), PQ640_OK);
  std::vector<PQ640_IORecord> records(counted);
  std::uint32_t count = 0;
  EXPECT_EQ(PQ640_GetIORecordBounded(&all, counted, &count, records.data(), nullptr), PQ640_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(records[0].time.day, 0) << "nothing written on -105";

  records.resize(count);
  ASSERT_EQ(PQ640_GetIORecordBounded(&all, count, &count, records.data(), nullptr), PQ640_OK);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(records[5].time.day, 6);
}

TEST_P(BoundedReads, ATerminalAnnouncingMoreThanItCountsNeverOverrunsTheArrays) {
  pq640sim::Faults faults;
  faults.count_surplus = 0xFFFFFFFFu;
  sim_.SetFaults(faults);
  PQ640_UserData user{};
  user.id = 3;
  ASSERT_EQ(PQ640_AddUserData(&user), PQ640_OK);
  std::uint32_t count = 0;
  ASSERT_EQ(PQ640_GetAllUserDataBounded(0, &count, nullptr, PQ640_LIST_COUNT, nullptr), PQ640_OK);
  ASSERT_EQ(count, 1u);
  std::vector<PQ640_UserData> users(count);
  EXPECT_EQ(PQ640_GetAllUserDataBounded(count, &count, users.data(), PQ640_LIST_RECORDS, nullptr),
            PQ640_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 0xFFFFFFFFu);
  std::vector<std::uint32_t> ids(1);
  count = 5;
  EXPECT_EQ(PQ640_GetAllAdminDataBounded(1, &count, ids.data(), PQ640_LIST_IDS, nullptr),
            PQ640_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 0xFFFFFFFFu) << "an empty table announcing the surplus alone";
  // The abandoned answers leave the link clean.
  sim_.ClearFaults();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, BoundedReads, ::testing::Values(Link::kTcp, Link::kSerial), LinkName);

}  // namespace
}  // namespace pq640::integration
