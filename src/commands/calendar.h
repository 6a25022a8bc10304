// The terminal's calendar: binary year within the century (2000-2099), month,
// day, hour, minute, second. Each byte is taken as signed, so 128-255 are
// negative and invalid. The rule itself is PQ640_IsValidDate in the public
// header, shared with hosts.
#pragma once

#include <cstdint>

#include "pq640/pq640.h"

namespace pq640 {

bool IsValidDate(std::int8_t year, std::int8_t month, std::int8_t day);
bool IsValidDateTime(const PQ640_DateTime& date_time);
// The same check on the first six bytes of a record.
bool IsValidDateTime(const std::uint8_t* six_bytes);

}  // namespace pq640
