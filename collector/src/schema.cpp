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
      // Content reconciliation and a cursor for consumers: every row gets a
      // sequence number in commit order (row_sequence is taken inside each
      // inserting transaction, so a later commit always numbers higher);
      // rows that arrived out of time order are marked late; a repeated DST
      // hour is marked instead of silently given one offset.
      {2,
       {"ALTER TABLE io_records ADD COLUMN seq BIGINT",
        "ALTER TABLE io_records ADD COLUMN late INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE io_records ADD COLUMN utc_ambiguous INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE admin_records ADD COLUMN seq BIGINT",
        "ALTER TABLE admin_records ADD COLUMN late INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE admin_records ADD COLUMN utc_ambiguous INTEGER NOT NULL DEFAULT 0",
        "CREATE TABLE row_sequence (last BIGINT NOT NULL)",
        "@NUMBER_OLD_ROWS@",
        "CREATE INDEX io_records_by_seq ON io_records (seq)",
        "CREATE INDEX admin_records_by_seq ON admin_records (seq)",
        "ALTER TABLE sync_state ADD COLUMN io_seen BIGINT",
        "ALTER TABLE sync_state ADD COLUMN admin_seen BIGINT",
        "ALTER TABLE sync_state ADD COLUMN clock_event TEXT",
        "ALTER TABLE terminals ADD COLUMN every_seconds BIGINT",
        "ALTER TABLE terminals ADD COLUMN max_drift_seconds BIGINT"}},
  };
  return migrations;
}

// Rows stored before version 2 are numbered in the order they were stored.
std::vector<std::string> NumberOldRows(Dialect dialect) {
  if (dialect == Dialect::kSqlite) {
    return {"UPDATE io_records SET seq = rowid",
            "UPDATE admin_records SET seq = rowid + (SELECT COALESCE(MAX(rowid), 0) FROM io_records)",
            "INSERT INTO row_sequence (last) VALUES ((SELECT COALESCE(MAX(seq), 0) FROM io_records) + "
            "(SELECT COALESCE(MAX(seq), 0) FROM admin_records))"};
  }
  return {"UPDATE io_records r SET seq = n.s FROM (SELECT ctid AS c, row_number() OVER (ORDER BY collected_at, "
          "local_time) AS s FROM io_records) n WHERE r.ctid = n.c",
          "UPDATE admin_records r SET seq = n.s + (SELECT COUNT(*) FROM io_records) FROM (SELECT ctid AS c, "
          "row_number() OVER (ORDER BY collected_at, local_time) AS s FROM admin_records) n WHERE r.ctid = n.c",
          "INSERT INTO row_sequence (last) VALUES ((SELECT COUNT(*) FROM io_records) + "
          "(SELECT COUNT(*) FROM admin_records))"};
}

}  // namespace

std::vector<Migration> Migrations(Dialect dialect) {
  std::vector<Migration> migrations = SqliteMigrations();
  for (auto& migration : migrations) {
    std::vector<std::string> statements;
    for (const auto& statement : migration.statements) {
      if (statement != "@NUMBER_OLD_ROWS@") {
        statements.push_back(statement);
        continue;
      }
      for (auto& numbering : NumberOldRows(dialect)) statements.push_back(std::move(numbering));
    }
    migration.statements = std::move(statements);
  }
  if (dialect == Dialect::kPostgres) {
    static const std::regex blob("\\bBLOB\\b");
    for (auto& migration : migrations) {
      for (auto& statement : migration.statements) statement = std::regex_replace(statement, blob, "BYTEA");
    }
  }
  return migrations;
}

}  // namespace pq640collect
