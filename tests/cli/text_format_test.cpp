#include "text_format.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <vector>

namespace pq640admin {
namespace {

bool SameDateTime(const PQ640_DateTime& a, const PQ640_DateTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

TEST(ParseDateTime, ReadsTheIsoFormAndTheShortForm) {
  const auto iso = ParseDateTime("2024-02-29 23:58:07");
  ASSERT_TRUE(iso);
  EXPECT_TRUE(SameDateTime(*iso, PQ640_DateTime{24, 2, 29, 23, 58, 7}));
  const auto short_form = ParseDateTime("24-02-29 23:58:07");
  ASSERT_TRUE(short_form);
  EXPECT_TRUE(SameDateTime(*short_form, *iso));
}

TEST(ParseDateTime, LeavesTheCalendarToTheHeaderCheck) {
  // The form is right; whether 30 February exists is PQ640_IsValidDateTime's call.
  const auto value = ParseDateTime("2024-02-30 99:99:99");
  ASSERT_TRUE(value);
  EXPECT_TRUE(SameDateTime(*value, PQ640_DateTime{24, 2, 30, 99, 99, 99}));
  EXPECT_FALSE(PQ640_IsValidDateTime(&*value));
}

TEST(ParseDateTime, RejectsOtherFormsAndYearsOutsideTheByte) {
  for (const char* text : {"", "1999-12-31 23:59:59", "2256-01-01 00:00:00", "2024-02-29 23:58",
                           "2024-02-29 23:58:07 ", "2024/02/29 23:58:07", "2024-02-29T23:58:07",
                           "2024-02-29 23-58-07", "24-2-029 23:58:07", "24-02-29 23:58:0x",
                           "-4-02-29 23:58:07", "024-02-29 23:58:07"}) {
    EXPECT_FALSE(ParseDateTime(text)) << text;
  }
}

TEST(ParseDay, FirstOrLastSecondOfTheDay) {
  const auto first = ParseDay("2026-12-07", false);
  const auto last = ParseDay("2026-12-07", true);
  ASSERT_TRUE(first && last);
  EXPECT_TRUE(SameDateTime(*first, PQ640_DateTime{26, 12, 7, 0, 0, 0}));
  EXPECT_TRUE(SameDateTime(*last, PQ640_DateTime{26, 12, 7, 23, 59, 59}));
  EXPECT_FALSE(ParseDay("26-12-07", false));
}

TEST(FormatDateTime, IsoFormThatParsesBack) {
  const PQ640_DateTime value{5, 1, 2, 3, 4, 9};
  EXPECT_EQ(FormatDateTime(value), "2005-01-02 03:04:09");
  const auto parsed = ParseDateTime(FormatDateTime(value));
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(SameDateTime(*parsed, value));
  // A record's time that is no real date still round-trips byte for byte.
  const PQ640_DateTime odd{200, 13, 0, 25, 61, 99};
  const auto odd_back = ParseDateTime(FormatDateTime(odd));
  ASSERT_TRUE(odd_back);
  EXPECT_TRUE(SameDateTime(*odd_back, odd));
}

TEST(ParseHex, PairsOfDigitsWithOptionalSpaces) {
  EXPECT_EQ(ParseHex("00ff A0 1b"), (std::vector<std::uint8_t>{0x00, 0xFF, 0xA0, 0x1B}));
  EXPECT_FALSE(ParseHex("0"));
  EXPECT_FALSE(ParseHex("0g"));
  EXPECT_FALSE(ParseHex("0 0"));
}

std::tm BrokenDown(int year, int month, int day, int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

TEST(DateTimeFromTm, CountsYearsFrom2000AndMonthsFromOne) {
  const auto value = DateTimeFromTm(BrokenDown(2031, 12, 31, 23, 59, 58));
  ASSERT_TRUE(value);
  EXPECT_TRUE(SameDateTime(*value, PQ640_DateTime{31, 12, 31, 23, 59, 58}));
}

TEST(DateTimeFromTm, KeepsALeapSecondInsideTheMinute) {
  const auto value = DateTimeFromTm(BrokenDown(2016, 12, 31, 23, 59, 60));
  ASSERT_TRUE(value);
  EXPECT_EQ(value->second, 59);
}

TEST(DateTimeFromTm, RefusesYearsOutsideTheCentury) {
  EXPECT_TRUE(DateTimeFromTm(BrokenDown(2000, 1, 1, 0, 0, 0)));
  EXPECT_TRUE(DateTimeFromTm(BrokenDown(2099, 12, 31, 0, 0, 0)));
  EXPECT_FALSE(DateTimeFromTm(BrokenDown(1999, 12, 31, 23, 59, 59)));
  EXPECT_FALSE(DateTimeFromTm(BrokenDown(2100, 1, 1, 0, 0, 0)));
}

TEST(FormatHexLines, SixteenBytesALineLedByTheOffset) {
  std::array<std::uint8_t, 34> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0xe0 + i);
  EXPECT_EQ(FormatHexLines(bytes),
            "00: e0 e1 e2 e3 e4 e5 e6 e7 e8 e9 ea eb ec ed ee ef\n"
            "10: f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff\n"
            "20: 00 01\n");
}

TEST(FormatHexLines, NothingForNoBytes) { EXPECT_EQ(FormatHexLines({}), ""); }

TEST(DateTimeProblem, NamesTheRuleBroken) {
  EXPECT_EQ(DateTimeProblem("2026-03-14 08:00:00", false), "");
  EXPECT_EQ(DateTimeProblem("26-03-14 08:00:00", false), "");
  EXPECT_EQ(DateTimeProblem("2026-03-14", true), "");
  EXPECT_EQ(DateTimeProblem("1999-12-31 23:59:59", false),
            "the terminal's clock holds the years 2000..2099, not 1999");
  EXPECT_EQ(DateTimeProblem("2100-01-01", true), "the terminal's clock holds the years 2000..2099, not 2100");
  EXPECT_NE(DateTimeProblem("2023-02-29 00:00:00", false).find("is not a real date and time"), std::string::npos);
  EXPECT_EQ(DateTimeProblem("2026-03-14", false), "expected \"YYYY-MM-DD hh:mm:ss\", got \"2026-03-14\"");
  EXPECT_NE(DateTimeProblem("14.03.2026", true).find("or a day \"YYYY-MM-DD\""), std::string::npos);
}

TEST(CountOf, NounInTheRightNumber) {
  EXPECT_EQ(CountOf(1, "user", "users"), "1 user");
  EXPECT_EQ(CountOf(0, "user", "users"), "0 users");
  EXPECT_EQ(CountOf(2, "administrator", "administrators"), "2 administrators");
}

}  // namespace
}  // namespace pq640admin
