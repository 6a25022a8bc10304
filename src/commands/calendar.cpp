#include "commands/calendar.h"

namespace pq640 {
namespace {

constexpr std::int8_t kDaysPerMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsLeapYear(int full_year) {
  return (full_year % 4 == 0 && full_year % 100 != 0) || full_year % 400 == 0;
}

bool InRange(std::int8_t value, int low, int high) { return value >= low && value <= high; }

}  // namespace

bool IsValidDate(std::int8_t year, std::int8_t month, std::int8_t day) {
  if (!InRange(year, 0, 99) || !InRange(month, 1, 12)) return false;
  int days = kDaysPerMonth[month - 1];
  if (month == 2 && IsLeapYear(2000 + year)) days = 29;
  return InRange(day, 1, days);
}

bool IsValidDateTime(const std::uint8_t* six_bytes) {
  const auto field = [six_bytes](int i) { return static_cast<std::int8_t>(six_bytes[i]); };
  return InRange(field(3), 0, 23) && InRange(field(4), 0, 59) && InRange(field(5), 0, 59) &&
         IsValidDate(field(0), field(1), field(2));
}

bool IsValidDateTime(const PQ640_DateTime& date_time) {
  return IsValidDateTime(reinterpret_cast<const std::uint8_t*>(&date_time));
}

}  // namespace pq640
