#include "pq640sim/date_time.h"

#include <gtest/gtest.h>

namespace pq640sim {
namespace {

DateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  auto b = [](int v) { return static_cast<std::uint8_t>(v); };
  return DateTime{b(y), b(mo), b(d), b(h), b(mi), b(s)};
}

TEST(DateTimeValidity, FollowsTheLeapYearsOfTheCentury) {
  EXPECT_TRUE(IsValidDateTime(At(0, 2, 29)));   // 2000 is divisible by 400
  EXPECT_FALSE(IsValidDateTime(At(1, 2, 29)));
  EXPECT_TRUE(IsValidDateTime(At(4, 2, 29)));
  EXPECT_TRUE(IsValidDateTime(At(1, 2, 28)));
}

TEST(DateTimeValidity, KnowsTheLengthOfEachMonth) {
  EXPECT_FALSE(IsValidDateTime(At(24, 4, 31)));
  EXPECT_TRUE(IsValidDateTime(At(24, 12, 31)));
  EXPECT_FALSE(IsValidDateTime(At(24, 1, 0)));
  EXPECT_FALSE(IsValidDateTime(At(24, 0, 1)));
  EXPECT_FALSE(IsValidDateTime(At(24, 13, 1)));
}

TEST(DateTimeValidity, RejectsTimesAndYearsOutOfRange) {
  EXPECT_TRUE(IsValidDateTime(At(99, 12, 31, 23, 59, 59)));
  EXPECT_FALSE(IsValidDateTime(At(24, 1, 1, 24, 0, 0)));
  EXPECT_FALSE(IsValidDateTime(At(24, 1, 1, 0, 60, 0)));
  EXPECT_FALSE(IsValidDateTime(At(24, 1, 1, 0, 0, 60)));
  EXPECT_FALSE(IsValidDateTime(At(100, 1, 1)));
  EXPECT_FALSE(IsValidDateTime(At(0x80, 1, 1)));
}

TEST(DateTimeText, ParsesTheStartClockOption) {
  EXPECT_EQ(ParseDateTime("24-02-29 23:59:58"), At(24, 2, 29, 23, 59, 58));
  EXPECT_EQ(ParseDateTime("00-01-01 00:00:00"), At(0, 1, 1));
}

TEST(DateTimeText, RejectsOtherShapesAndImpossibleValues) {
  EXPECT_FALSE(ParseDateTime("24-2-29 23:59:58"));
  EXPECT_FALSE(ParseDateTime("2024-02-29 23:59:58"));
  EXPECT_FALSE(ParseDateTime("24-02-29T23:59:58"));
  EXPECT_FALSE(ParseDateTime("24-02-29 23:59:58 "));
  EXPECT_FALSE(ParseDateTime("23-02-29 00:00:00"));
  EXPECT_FALSE(ParseDateTime("24-02-29 24:00:00"));
  EXPECT_FALSE(ParseDateTime(""));
}

TEST(DateTimeText, FormatsTheSameShape) {
  EXPECT_EQ(FormatDateTime(At(5, 7, 9, 1, 2, 3)), "05-07-09 01:02:03");
}

TEST(DateTimeConversion, MapsOntoTheUtcTimeLine) {
  EXPECT_EQ(ToSysSeconds(At(0, 1, 1)).time_since_epoch().count(), 946684800);
  const DateTime value = At(24, 2, 29, 23, 59, 58);
  EXPECT_EQ(FromSysSeconds(ToSysSeconds(value)), value);
  EXPECT_EQ(FromSysSeconds(ToSysSeconds(value) + std::chrono::seconds(3)), At(24, 3, 1, 0, 0, 1));
}

TEST(DateTimeConversion, ClampsTimesOutsideTheCentury) {
  EXPECT_EQ(FromSysSeconds(ToSysSeconds(At(0, 1, 1)) - std::chrono::seconds(1)), At(0, 1, 1));
  EXPECT_EQ(FromSysSeconds(ToSysSeconds(At(99, 12, 31, 23, 59, 59)) + std::chrono::hours(1)),
            At(99, 12, 31, 23, 59, 59));
}

TEST(DateTimeBytes, KeepTheWireOrder) {
  const DateTime value = At(24, 2, 29, 23, 59, 58);
  const auto bytes = ToBytes(value);
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 6>{24, 2, 29, 23, 59, 58}));
  EXPECT_EQ(FromBytes(bytes), value);
}

}  // namespace
}  // namespace pq640sim
