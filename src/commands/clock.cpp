// Reading and setting the terminal's clock, checked in both directions.
#include "commands/calendar.h"
#include "protocol/arguments.h"
#include "protocol/framing.h"

using namespace pq640;

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetDateTime(PQ640_DateTime* date_time) {
  if (AnyNull(date_time)) return PQ640_INVALID_ARGUMENT;
  const ResultCode result = TransactReading(kCommandInfo<Command::kGetDateTime>, nullptr, 0,
                                            reinterpret_cast<std::uint8_t*>(date_time),
                                            sizeof *date_time);
  if (result != PQ640_OK) return result;
  return IsValidDateTime(*date_time) ? PQ640_OK : PQ640_INVALID_ARGUMENT;
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_SetDateTime(const PQ640_DateTime* date_time) {
  if (AnyNull(date_time)) return PQ640_INVALID_ARGUMENT;
  if (!IsValidDateTime(*date_time)) return PQ640_INVALID_ARGUMENT;
  return Transact(kCommandInfo<Command::kSetDateTime>,
                  reinterpret_cast<const std::uint8_t*>(date_time), sizeof *date_time);
}
