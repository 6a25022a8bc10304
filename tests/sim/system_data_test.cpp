#include "pq640sim/system_data.h"

#include <gtest/gtest.h>

#include "pq640sim/little_endian.h"

namespace pq640sim {
namespace {

SystemData WithU32(SystemData block, std::size_t offset, std::uint32_t value) {
  StoreU32(block, offset, value);
  return block;
}

TEST(SystemDataDefaults, AreAcceptedAndHoldTheDocumentedValues) {
  const SystemData block = DefaultSystemData();
  EXPECT_TRUE(IsAcceptableSystemData(block));
  EXPECT_EQ(block[0], 10);
  EXPECT_EQ(block[1], 1);
  EXPECT_EQ(LoadU16(block, 4), 1);
  EXPECT_EQ(LoadU32(block, 32), 5u);
  EXPECT_EQ(LoadU32(block, 56), 50000u);
  EXPECT_EQ(LoadU32(block, 60), 45000u);
  EXPECT_EQ(LoadU32(block, 68), 2u);
  for (std::size_t offset = 72; offset < kSystemDataSize; ++offset) {
    ASSERT_EQ(block[offset], offset) << "offset " << offset;
  }
}

TEST(SystemDataRules, BoundTheSingleByteAndSixteenBitFields) {
  const SystemData base = DefaultSystemData();
  struct Case {
    std::size_t offset;
    std::uint8_t largest;
  };
  for (const Case c : {Case{0, 30}, Case{1, 1}, Case{2, 2}}) {
    SystemData block = base;
    block[c.offset] = c.largest;
    EXPECT_TRUE(IsAcceptableSystemData(block)) << "offset " << c.offset;
    block[c.offset] = static_cast<std::uint8_t>(c.largest + 1);
    EXPECT_FALSE(IsAcceptableSystemData(block)) << "offset " << c.offset;
  }
  SystemData block = base;
  StoreU16(block, 4, 99);
  EXPECT_TRUE(IsAcceptableSystemData(block));
  StoreU16(block, 4, 100);
  EXPECT_FALSE(IsAcceptableSystemData(block));
}

TEST(SystemDataRules, BoundTheGroupLeaders) {
  SystemData block = DefaultSystemData();
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(block, 32, 0)));
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(block, 32, 11)));
  EXPECT_TRUE(IsAcceptableSystemData(WithU32(block, 32, 10)));
  EXPECT_TRUE(IsAcceptableSystemData(WithU32(block, 40, 1000)));
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(block, 40, 1001)));
  EXPECT_TRUE(IsAcceptableSystemData(WithU32(block, 48, 1000)));
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(block, 48, 1001)));
  EXPECT_TRUE(IsAcceptableSystemData(WithU32(block, 64, 1000)));
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(block, 64, 1001)));
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(block, 56, 50001)));
}

TEST(SystemDataRules, KeepEachGroupMemberAtMostItsLeader) {
  SystemData block = WithU32(WithU32(WithU32(DefaultSystemData(), 32, 10), 36, 10), 68, 10);
  EXPECT_TRUE(IsAcceptableSystemData(block));
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(block, 68, 11)));
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(block, 36, 11)));

  block = WithU32(WithU32(DefaultSystemData(), 56, 50000), 60, 50000);
  EXPECT_TRUE(IsAcceptableSystemData(block));
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(WithU32(block, 56, 400), 60, 401)));

  block = WithU32(WithU32(DefaultSystemData(), 40, 300), 44, 300);
  EXPECT_TRUE(IsAcceptableSystemData(block));
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(block, 44, 301)));

  block = WithU32(WithU32(DefaultSystemData(), 48, 7), 52, 7);
  EXPECT_TRUE(IsAcceptableSystemData(block));
  EXPECT_FALSE(IsAcceptableSystemData(WithU32(block, 52, 8)));
}

TEST(SystemDataRules, LeaveTheFreeBytesAlone) {
  SystemData block = DefaultSystemData();
  block[3] = 0xFF;
  for (std::size_t offset = 6; offset < 32; ++offset) block[offset] = 0xFF;
  for (std::size_t offset = 72; offset < kSystemDataSize; ++offset) block[offset] = 0xFF;
  EXPECT_TRUE(IsAcceptableSystemData(block));
}

}  // namespace
}  // namespace pq640sim
