#include "schema.h"

#include <regex>

namespace pq640collect {
namespace {

// Written once in SQLite's words; PostgreSQL differs only in the type of the
// raw bytes. Times are text "YYYY-MM-DD hh:mm:ss" in both, so comparisons and
// exports behave the same everywhere; host instants are Unix seconds.
const std::vector<Migration>& SqliteMigrations() {
  static const std::vector<Migration> migrations = {
      {1,
       {R"(CREATE TABLE terminals (
             name TEXT PRIMARY KEY,
             link TEXT NOT NULL,
             terminal_id INTEGER NOT NULL,
             time_zone TEXT))",
        R"(CREATE TABLE io_records (
             terminal TEXT NOT NULL REFERENCES terminals(name),
             local_time TEXT NOT NULL,
             utc_time TEXT,
             user_id BIGINT NOT NULL,
             verification INTEGER NOT NULL,
             in_out INTEGER NOT NULL,
             work_code BIGINT NOT NULL,
             raw BLOB NOT NULL,
             twin INTEGER NOT NULL,
             collected_at BIGINT NOT NULL,
             PRIMARY KEY (terminal, raw, twin)))",
        "CREATE INDEX io_records_by_time ON io_records (terminal, local_time)",
        "CREATE INDEX io_records_by_export ON io_records (local_time)",
        R"(CREATE TABLE admin_records (
             terminal TEXT NOT NULL REFERENCES terminals(name),
             local_time TEXT NOT NULL,
             utc_time TEXT,
             admin_id BIGINT NOT NULL,
             operation INTEGER NOT NULL,
             target_user_id BIGINT NOT NULL,
             raw BLOB NOT NULL,
             twin INTEGER NOT NULL,
             collected_at BIGINT NOT NULL,
             PRIMARY KEY (terminal, raw, twin)))",
        "CREATE INDEX admin_records_by_time ON admin_records (terminal, local_time)",
        R"(CREATE TABLE sync_state (
             terminal TEXT PRIMARY KEY REFERENCES terminals(name),
             io_watermark TEXT,
             admin_watermark TEXT,
             io_pruned_through TEXT,
             admin_pruned_through TEXT,
             last_attempt BIGINT,
             last_success BIGINT,
             next_due BIGINT,
             failures INTEGER NOT NULL DEFAULT 0,
             last_error TEXT,
             clock_drift BIGINT))"}},
  };
  return migrations;
}

}  // namespace

std::vector<Migration> Migrations(Dialect dialect) {
  std::vector<Migration> migrations = SqliteMigrations();
  if (dialect == Dialect::kPostgres) {
    static const std::regex blob("\\bBLOB\\b");
    for (auto& migration : migrations) {
      for (auto& statement : migration.statements) statement = std::regex_replace(statement, blob, "BYTEA");
    }
  }
  return migrations;
}

}  // namespace pq640collect
