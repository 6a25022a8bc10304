// Values crossing libpq: a result's cells, records from bytea's hex text,
// array literals, the arrays of an insert, and a terminal's advisory lock key.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store.h"

namespace pq640collect::postgres {

using Params = std::vector<std::optional<std::string>>;

// Owns one PGresult; cells are read as text and converted.
class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}
  ~Result() { PQclear(result_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  int Rows() const { return PQntuples(result_); }
  std::int64_t Affected() const {
    const char* text = PQcmdTuples(result_);
    return text != nullptr && *text != 0 ? std::stoll(text) : 0;
  }
  bool IsNull(int row, int column) const { return PQgetisnull(result_, row, column) != 0; }
  std::string Text(int row, int column) const { return PQgetvalue(result_, row, column); }
  std::optional<std::string> OptionalText(int row, int column) const {
    if (IsNull(row, column)) return std::nullopt;
    return Text(row, column);
  }
  std::int64_t Integer(int row, int column) const { return std::stoll(Text(row, column)); }
  std::optional<std::int64_t> OptionalInteger(int row, int column) const {
    if (IsNull(row, column)) return std::nullopt;
    return Integer(row, column);
  }

 private:
  PGresult* result_;
};

// A record from bytea as PostgreSQL prints it: "\x0011...".
RawRecord FromHex(const std::string& text);
// A PostgreSQL array literal of plain values; null entries become NULL.
std::string ArrayLiteral(const std::vector<std::optional<std::string>>& values);
// One log's rows as the array literals of one INSERT ... unnest: a column
// each, the record's fields decoded as the tables hold them.
struct InsertArrays {
  std::string local, utc, owner, kind, in_out, value, raw, twin, flags;
};
InsertArrays ToInsertArrays(LogKind log, const std::vector<LogRow>& rows);
// The advisory lock key that claims one terminal.
std::int64_t LockKey(const std::string& terminal);

}  // namespace pq640collect::postgres
