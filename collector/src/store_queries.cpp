#include "store_queries.h"

#include "record_layout.h"

namespace pq640collect {

const char* Table(LogKind log) { return log == LogKind::kIo ? "io_records" : "admin_records"; }

std::optional<PQ640_DateTime> OptionalTime(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return ParseTimeText(*text);
}

std::string StatusQuery() {
  return "SELECT t.name, s.last_success, s.last_attempt, "
         "(SELECT COUNT(*) FROM io_records r WHERE r.terminal = t.name), "
         "(SELECT COUNT(*) FROM admin_records r WHERE r.terminal = t.name), "
         "s.io_watermark, s.clock_drift, s.failures, s.last_error, s.next_due, s.clock_event, "
         "t.every_seconds, t.max_drift_seconds, "
         "(SELECT COUNT(*) FROM io_records r WHERE r.terminal = t.name AND r.late <> 0) "
         "FROM terminals t LEFT JOIN sync_state s ON s.terminal = t.name ORDER BY t.name";
}

std::string ExportQuery(LogKind log, const ExportFilter& filter, Dialect dialect) {
  int index = 0;
  const auto next = [&] {
    std::string placeholder = "?";
    if (dialect == Dialect::kPostgres) {
      placeholder = "$";
      placeholder.append(std::to_string(++index));
    }
    return placeholder;
  };
  const bool io = log == LogKind::kIo;
  std::string sql = io ? "SELECT terminal, local_time, utc_time, user_id, verification, in_out, work_code, raw, "
                         "seq, late, utc_ambiguous FROM io_records"
                       : "SELECT terminal, local_time, utc_time, admin_id, operation, 0, target_user_id, raw, "
                         "seq, late, utc_ambiguous FROM admin_records";
  sql += " WHERE local_time BETWEEN " + next();
  sql += " AND " + next();
  if (filter.after_seq) sql += " AND seq > " + next();
  if (filter.terminal) sql += " AND terminal = " + next();
  // Paging by seq follows commit order; otherwise terminal and time, twins in
  // the order they were stored.
  sql += filter.after_seq ? " ORDER BY seq" : " ORDER BY terminal, local_time, seq";
  return sql;
}

}  // namespace pq640collect
