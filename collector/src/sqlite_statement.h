// A prepared SQLite statement that throws StoreError with SQLite's own text.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "store.h"

namespace pq640collect {

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
      throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db) + " in: " + sql);
    }
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, const std::string& text) {
    Check(sqlite3_bind_text(statement_, index, text.c_str(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  Statement& Bind(int index, std::int64_t value) {
    Check(sqlite3_bind_int64(statement_, index, value));
    return *this;
  }
  Statement& Bind(int index, const RawRecord& raw) {
    Check(sqlite3_bind_blob(statement_, index, raw.data(), static_cast<int>(raw.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Statement& BindNull(int index) {
    Check(sqlite3_bind_null(statement_, index));
    return *this;
  }
  template <typename T>
  Statement& Bind(int index, const std::optional<T>& value) {
    return value ? Bind(index, *value) : BindNull(index);
  }
  // True while a row is ready.
  bool Step() {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result != SQLITE_DONE) throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db_));
    return false;
  }
  void Reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  bool IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::int64_t Integer(int column) const { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) const {
    const auto* text = sqlite3_column_text(statement_, column);
    return text == nullptr ? std::string() : reinterpret_cast<const char*>(text);
  }
  std::optional<std::string> OptionalText(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Text(column);
  }
  std::optional<std::int64_t> OptionalInteger(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Integer(column);
  }
  RawRecord Raw(int column) const {
    RawRecord raw{};
    const int size = sqlite3_column_bytes(statement_, column);
    if (size == static_cast<int>(raw.size())) std::memcpy(raw.data(), sqlite3_column_blob(statement_, column), raw.size());
    return raw;
  }

 private:
  void Check(int result) {
    if (result != SQLITE_OK) throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db_));
  }
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace pq640collect
