// SQL that SQLite and PostgreSQL share word for word, but for placeholders,
// and the reading of the columns both hold alike.
#pragma once

#include <optional>
#include <string>

#include "schema.h"
#include "store.h"

namespace pq640collect {

// The table that holds a log's rows.
const char* Table(LogKind log);
// A time column's text ("2026-03-15 07:30:00"), or nothing for NULL.
std::optional<PQ640_DateTime> OptionalTime(const std::optional<std::string>& text);

// Per terminal: name, last_success, last_attempt, IO rows, admin rows,
// io_watermark, clock_drift, failures, last_error, next_due, clock_event,
// every_seconds, max_drift_seconds, late IO rows.
std::string StatusQuery();

// Columns: terminal, local_time, utc_time, owner, kind, in_out, value, raw,
// seq, late, utc_ambiguous. Parameters in order: since, until, then after_seq
// and terminal when the filter has them.
std::string ExportQuery(LogKind log, const ExportFilter& filter, Dialect dialect);

}  // namespace pq640collect
