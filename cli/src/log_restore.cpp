#include "log_restore.h"

namespace pq640admin {

PQ640_RecordQuery RangeQueryOf(const std::vector<PQ640_IORecord>& records) {
  LogFilter filter;
  for (const PQ640_IORecord& record : records) {
    if (!filter.from || TimeBefore(record.time, *filter.from)) filter.from = record.time;
    if (!filter.to || TimeBefore(*filter.to, record.time)) filter.to = record.time;
  }
  return BuildQuery(filter);
}

}  // namespace pq640admin
