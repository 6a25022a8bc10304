#include "commands/calendar.h"

namespace pq640 {

// The rule itself lives in the public header, so that hosts check dates
// exactly as the library does.
bool IsValidDate(std::int8_t year, std::int8_t month, std::int8_t day) {
  return PQ640_IsValidDate(year, month, day) != 0;
}

bool IsValidDateTime(const PQ640_DateTime& date_time) {
  return PQ640_IsValidDateTime(&date_time) != 0;
}

bool IsValidDateTime(const std::uint8_t* six_bytes) {
  const PQ640_DateTime date_time{six_bytes[0], six_bytes[1], six_bytes[2],
                                 six_bytes[3], six_bytes[4], six_bytes[5]};
  return IsValidDateTime(date_time);
}

}  // namespace pq640
