#include "pq640sim/log_layout.h"

#include "pq640sim/little_endian.h"

namespace pq640sim {

TimeKey TimeKeyOf(std::span<const std::uint8_t, 6> date_time) {
  TimeKey key = 0;
  for (std::uint8_t byte : date_time) key = (key << 8) | byte;
  return key;
}

TimeKey RecordTime(const LogRecord& record) {
  return TimeKeyOf(std::span(record).subspan<kRecordTimeOffset, 6>());
}

std::uint32_t RecordOwner(const LogRecord& record) { return LoadU32(record, kRecordOwnerOffset); }

}  // namespace pq640sim
