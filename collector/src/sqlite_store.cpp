#include "sqlite_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>

#include "file_claim.h"
#include "schema.h"
#include "sqlite_statement.h"
#include "store_queries.h"

namespace pq640collect {
namespace {

class SqliteStore : public Store {
 public:
  SqliteStore(const std::string& path, StoreAccess access) : path_(path) {
    if (access != StoreAccess::kCreate && !std::filesystem::exists(path)) {
      throw StoreError("SQLite: there is no database at " + path +
                       (access == StoreAccess::kReadOnly ? " (pq640-collect run creates it)"
                                                         : " (was it deleted? pq640-collect run creates a new one)"));
    }
    const int flags = access == StoreAccess::kReadOnly ? SQLITE_OPEN_READONLY
                      : access == StoreAccess::kCreate ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                                       : SQLITE_OPEN_READWRITE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw StoreError("SQLite: cannot open " + path + ": " + message);
    }
    // Workers on one machine write the same file; a commit of a large cycle
    // can keep the others waiting for a while.
    sqlite3_busy_timeout(db_, 60000);
    if (access != StoreAccess::kReadOnly) {
      Execute("PRAGMA journal_mode = WAL");
      Execute("PRAGMA synchronous = FULL");
    }
    Execute("PRAGMA foreign_keys = ON");
    identity_ = FileIdentity();
    if (!identity_) throw StoreError("SQLite: " + path + " vanished while it was being opened");
  }
  ~SqliteStore() override { sqlite3_close(db_); }
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  void Migrate() override {
    Execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY, applied_at BIGINT NOT NULL)");
    Transaction transaction(*this);
    const std::int64_t have = Version();
    for (const Migration& migration : Migrations(Dialect::kSqlite)) {
      if (migration.version <= have) continue;
      for (const std::string& statement : migration.statements) Execute(statement.c_str());
      Statement record(db_, "INSERT INTO schema_version (version, applied_at) VALUES (?, strftime('%s','now'))");
      record.Bind(1, std::int64_t{migration.version}).Step();
    }
    transaction.Commit();
  }

  void RequireCurrentSchema() override {
    Statement exists(db_, "SELECT COUNT(*) FROM sqlite_master WHERE name = 'schema_version'");
    exists.Step();
    if (exists.Integer(0) == 0 || Version() < kSchemaVersion) {
      throw StoreError("SQLite: " + path_ + " has not been prepared by this version of the collector "
                       "(pq640-collect run migrates it)");
    }
  }

  void RegisterTerminal(const TerminalConfig& terminal) override {
    const std::string link = TerminalLinkText(terminal);
    Transaction transaction(*this);
    if (terminal.renamed_from && !Exists(terminal.name) && Exists(*terminal.renamed_from)) {
      MoveTerminal(*terminal.renamed_from, terminal.name);
    }
    Statement other(db_, "SELECT name FROM terminals WHERE link = ? AND terminal_id = ? AND name <> ?");
    other.Bind(1, link).Bind(2, std::int64_t{terminal.terminal_id}).Bind(3, terminal.name);
    if (other.Step()) {
      const std::string old = other.Text(0);
      throw StoreError("terminal \"" + terminal.name + "\" (" + link + ", id " + std::to_string(terminal.terminal_id) +
                       ") is stored as \"" + old + "\": add renamed_from = \"" + old +
                       "\" to its config, or run pq640-collect rename " + old + " " + terminal.name);
    }
    Statement upsert(db_,
                     "INSERT INTO terminals (name, link, terminal_id, time_zone, every_seconds, max_drift_seconds) "
                     "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (name) DO UPDATE SET link = excluded.link, "
                     "terminal_id = excluded.terminal_id, time_zone = excluded.time_zone, "
                     "every_seconds = excluded.every_seconds, max_drift_seconds = excluded.max_drift_seconds");
    upsert.Bind(1, terminal.name).Bind(2, link).Bind(3, std::int64_t{terminal.terminal_id}).Bind(4, terminal.time_zone)
        .Bind(5, std::int64_t{terminal.every.count()}).Bind(6, std::int64_t{terminal.max_drift.count()}).Step();
    Statement state(db_, "INSERT INTO sync_state (terminal) VALUES (?) ON CONFLICT (terminal) DO NOTHING");
    state.Bind(1, terminal.name).Step();
    transaction.Commit();
  }

  void Rename(const std::string& from, const std::string& to) override {
    Transaction transaction(*this);
    if (!Exists(from)) throw StoreError("no terminal \"" + from + "\" is stored");
    if (Exists(to)) throw StoreError("a terminal \"" + to + "\" is stored already");
    MoveTerminal(from, to);
    transaction.Commit();
  }

  void CheckIdentity() override {
    const auto now = FileIdentity();
    if (!now || *now != *identity_) {
      throw StoreError("SQLite: the database file " + path_ + " was " + (now ? "replaced" : "deleted") +
                       " while the collector had it open; collecting and pruning stop until it is back "
                       "(restore it, then restart the collector)");
    }
  }

  SyncState State(const std::string& terminal) override {
    Statement query(db_,
                    "SELECT io_watermark, admin_watermark, io_pruned_through, admin_pruned_through, "
                    "last_attempt, last_success, next_due, failures, io_seen, admin_seen, clock_drift "
                    "FROM sync_state WHERE terminal = ?");
    query.Bind(1, terminal);
    SyncState state;
    if (!query.Step()) return state;
    state.io_watermark = OptionalTime(query.OptionalText(0));
    state.admin_watermark = OptionalTime(query.OptionalText(1));
    state.io_pruned_through = OptionalTime(query.OptionalText(2));
    state.admin_pruned_through = OptionalTime(query.OptionalText(3));
    state.last_attempt = query.OptionalInteger(4);
    state.last_success = query.OptionalInteger(5);
    state.next_due = query.OptionalInteger(6);
    state.failures = static_cast<int>(query.Integer(7));
    state.io_seen = query.OptionalInteger(8);
    state.admin_seen = query.OptionalInteger(9);
    state.clock_drift = query.OptionalInteger(10);
    return state;
  }

  std::int64_t CountAt(const std::string& terminal, LogKind log, const PQ640_DateTime& second) override {
    return CountBetween(terminal, log, second, second);
  }

  std::int64_t CountBetween(const std::string& terminal, LogKind log, const PQ640_DateTime& from,
                            const PQ640_DateTime& to) override {
    const std::string sql = std::string("SELECT COUNT(*) FROM ") + Table(log) +
                            " WHERE terminal = ? AND local_time BETWEEN ? AND ?";
    Statement query(db_, sql.c_str());
    query.Bind(1, terminal).Bind(2, TimeText(from)).Bind(3, TimeText(to)).Step();
    return query.Integer(0);
  }

  std::optional<PQ640_DateTime> TimeAtRank(const std::string& terminal, LogKind log, const PQ640_DateTime& from,
                                           const PQ640_DateTime& to, std::int64_t rank) override {
    const std::string sql = std::string("SELECT local_time FROM ") + Table(log) +
                            " WHERE terminal = ? AND local_time BETWEEN ? AND ? ORDER BY local_time LIMIT 1 OFFSET ?";
    Statement query(db_, sql.c_str());
    query.Bind(1, terminal).Bind(2, TimeText(from)).Bind(3, TimeText(to)).Bind(4, rank);
    if (!query.Step()) return std::nullopt;
    return ParseTimeText(query.Text(0));
  }

  CommitResult Commit(const CycleCommit& commit) override {
    CheckIdentity();
    Transaction transaction(*this);
    CommitResult result;
    result.io_inserted = Insert(commit.terminal, LogKind::kIo, commit.io_rows, commit.finished_at);
    result.admin_inserted = Insert(commit.terminal, LogKind::kAdmin, commit.admin_rows, commit.finished_at);
    Statement state(db_,
                    "UPDATE sync_state SET io_watermark = COALESCE(?, io_watermark), "
                    "admin_watermark = COALESCE(?, admin_watermark), last_attempt = ?, last_success = ?, "
                    "next_due = ?, failures = 0, last_error = NULL, clock_drift = ?, "
                    "io_seen = COALESCE(?, io_seen), admin_seen = COALESCE(?, admin_seen), "
                    "clock_event = COALESCE(?, clock_event) WHERE terminal = ?");
    std::optional<std::string> io_mark, admin_mark;
    if (commit.io_watermark) io_mark = TimeText(*commit.io_watermark);
    if (commit.admin_watermark) admin_mark = TimeText(*commit.admin_watermark);
    state.Bind(1, io_mark).Bind(2, admin_mark).Bind(3, commit.finished_at).Bind(4, commit.finished_at)
        .Bind(5, commit.next_due).Bind(6, commit.clock_drift).Bind(7, commit.io_seen).Bind(8, commit.admin_seen)
        .Bind(9, commit.clock_event).Bind(10, commit.terminal).Step();
    transaction.Commit();
    return result;
  }

  std::int64_t InsertMissing(const std::string& terminal, LogKind log, const std::vector<LogRow>& rows,
                             std::int64_t at) override {
    CheckIdentity();
    Transaction transaction(*this);
    const std::int64_t inserted = Insert(terminal, log, rows, at);
    transaction.Commit();
    return inserted;
  }

  void LowerWatermarks(const std::string& terminal, const PQ640_DateTime& to) override {
    const std::string mark = TimeText(to);
    Statement update(db_,
                     "UPDATE sync_state SET io_watermark = MIN(io_watermark, ?1), "
                     "admin_watermark = MIN(admin_watermark, ?1) WHERE terminal = ?2");
    update.Bind(1, mark).Bind(2, terminal).Step();
  }

  void RecordPruned(const std::string& terminal, LogKind log, const PQ640_DateTime& through,
                    std::optional<std::int64_t> seen) override {
    const bool io = log == LogKind::kIo;
    const std::string sql = std::string("UPDATE sync_state SET ") + (io ? "io_pruned_through" : "admin_pruned_through") +
                            " = ?, " + (io ? "io_seen" : "admin_seen") + " = ? WHERE terminal = ?";
    Statement update(db_, sql.c_str());
    update.Bind(1, TimeText(through)).Bind(2, seen).Bind(3, terminal).Step();
  }

  void RecordFailure(const std::string& terminal, const std::string& error, std::int64_t at,
                     std::int64_t next_due, int failures) override {
    Statement update(db_,
                     "UPDATE sync_state SET last_attempt = ?, next_due = ?, failures = ?, last_error = ? "
                     "WHERE terminal = ?");
    update.Bind(1, at).Bind(2, next_due).Bind(3, std::int64_t{failures}).Bind(4, error).Bind(5, terminal).Step();
  }

  void RecordDrift(const std::string& terminal, std::int64_t drift) override {
    Statement update(db_, "UPDATE sync_state SET clock_drift = ? WHERE terminal = ?");
    update.Bind(1, drift).Bind(2, terminal).Step();
  }

  std::vector<TerminalStatus> Status() override {
    Statement query(db_, StatusQuery().c_str());
    std::vector<TerminalStatus> rows;
    while (query.Step()) {
      TerminalStatus row;
      row.name = query.Text(0);
      row.last_success = query.OptionalInteger(1);
      row.last_attempt = query.OptionalInteger(2);
      row.io_records = query.Integer(3);
      row.admin_records = query.Integer(4);
      row.io_watermark = query.OptionalText(5);
      row.clock_drift = query.OptionalInteger(6);
      row.failures = static_cast<int>(query.Integer(7));
      row.last_error = query.OptionalText(8);
      row.next_due = query.OptionalInteger(9);
      row.clock_event = query.OptionalText(10);
      row.every_seconds = query.OptionalInteger(11);
      row.max_drift_seconds = query.OptionalInteger(12);
      row.late_records = query.Integer(13);
      rows.push_back(std::move(row));
    }
    return rows;
  }

  void Export(LogKind log, const ExportFilter& filter, const std::function<void(const ExportRow&)>& row) override {
    const std::string sql = ExportQuery(log, filter, Dialect::kSqlite);
    Statement query(db_, sql.c_str());
    query.Bind(1, filter.since);
    query.Bind(2, filter.until);
    int index = 3;
    if (filter.after_seq) query.Bind(index++, *filter.after_seq);
    if (filter.terminal) query.Bind(index++, *filter.terminal);
    while (query.Step()) {
      ExportRow out;
      out.terminal = query.Text(0);
      out.local_time = query.Text(1);
      out.utc_time = query.OptionalText(2);
      out.owner = static_cast<std::uint32_t>(query.Integer(3));
      out.kind = static_cast<std::uint8_t>(query.Integer(4));
      out.in_out = static_cast<std::uint8_t>(query.Integer(5));
      out.value = static_cast<std::uint32_t>(query.Integer(6));
      out.raw = query.Raw(7);
      out.seq = query.Integer(8);
      out.late = query.Integer(9) != 0;
      out.utc_ambiguous = query.Integer(10) != 0;
      row(out);
    }
  }

  std::unique_ptr<Claim> TryClaim(const std::string& terminal) override {
    return TryFileClaim(path_ + ".claims", terminal);
  }

 private:
  class Transaction {
   public:
    explicit Transaction(SqliteStore& store) : store_(store) { store_.Execute("BEGIN IMMEDIATE"); }
    ~Transaction() {
      if (!done_) sqlite3_exec(store_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
      store_.Execute("COMMIT");
      done_ = true;
    }

   private:
    SqliteStore& store_;
    bool done_ = false;
  };

  void Execute(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string message = error != nullptr ? error : "unknown error";
      sqlite3_free(error);
      throw StoreError("SQLite: " + message);
    }
  }

  std::int64_t Version() {
    Statement current(db_, "SELECT COALESCE(MAX(version), 0) FROM schema_version");
    current.Step();
    return current.Integer(0);
  }

  bool Exists(const std::string& terminal) {
    Statement query(db_, "SELECT 1 FROM terminals WHERE name = ?");
    query.Bind(1, terminal);
    return query.Step();
  }

  // Inside a transaction. The records keep their keys; only the name changes.
  void MoveTerminal(const std::string& from, const std::string& to) {
    Statement copy(db_,
                   "INSERT INTO terminals (name, link, terminal_id, time_zone, every_seconds, max_drift_seconds) "
                   "SELECT ?, link, terminal_id, time_zone, every_seconds, max_drift_seconds FROM terminals "
                   "WHERE name = ?");
    copy.Bind(1, to).Bind(2, from).Step();
    for (const char* table : {"io_records", "admin_records", "sync_state"}) {
      const std::string sql = std::string("UPDATE ") + table + " SET terminal = ? WHERE terminal = ?";
      Statement move(db_, sql.c_str());
      move.Bind(1, to).Bind(2, from).Step();
    }
    Statement drop(db_, "DELETE FROM terminals WHERE name = ?");
    drop.Bind(1, from).Step();
  }

  // The inode and device of the path now; nothing when it is gone.
  std::optional<std::pair<dev_t, ino_t>> FileIdentity() const {
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0) return std::nullopt;
    return std::pair{info.st_dev, info.st_ino};
  }

  // Inside a transaction: numbers the rows from row_sequence, so that a
  // later commit always carries higher numbers.
  std::int64_t Insert(const std::string& terminal, LogKind log, const std::vector<LogRow>& rows, std::int64_t at) {
    if (rows.empty()) return 0;
    Statement reserve(db_, "UPDATE row_sequence SET last = last + ? RETURNING last");
    reserve.Bind(1, static_cast<std::int64_t>(rows.size()));
    if (!reserve.Step()) throw StoreError("SQLite: the row_sequence table is empty");
    std::int64_t seq = reserve.Integer(0) - static_cast<std::int64_t>(rows.size());
    reserve.Reset();
    const bool io = log == LogKind::kIo;
    Statement insert(db_, io ? "INSERT INTO io_records (terminal, local_time, utc_time, user_id, verification, "
                               "in_out, work_code, raw, twin, collected_at, seq, late, utc_ambiguous) "
                               "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT (terminal, raw, twin) DO NOTHING"
                             : "INSERT INTO admin_records (terminal, local_time, utc_time, admin_id, operation, "
                               "target_user_id, raw, twin, collected_at, seq, late, utc_ambiguous) "
                               "VALUES (?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT (terminal, raw, twin) DO NOTHING");
    std::int64_t inserted = 0;
    for (const LogRow& row : rows) {
      insert.Reset();
      insert.Bind(1, terminal).Bind(2, TimeText(RecordTime(row.raw)));
      if (row.utc) insert.Bind(3, TimeText(*row.utc)); else insert.BindNull(3);
      int next = 4;
      if (io) {
        const IoFields fields = DecodeIo(row.raw);
        insert.Bind(4, std::int64_t{fields.user_id}).Bind(5, std::int64_t{fields.verification})
            .Bind(6, std::int64_t{fields.in_out}).Bind(7, std::int64_t{fields.work_code});
        next = 8;
      } else {
        const AdminFields fields = DecodeAdmin(row.raw);
        insert.Bind(4, std::int64_t{fields.admin_id}).Bind(5, std::int64_t{fields.operation})
            .Bind(6, std::int64_t{fields.target_user_id});
        next = 7;
      }
      insert.Bind(next, row.raw).Bind(next + 1, std::int64_t{row.twin}).Bind(next + 2, at).Bind(next + 3, ++seq)
          .Bind(next + 4, std::int64_t{row.late}).Bind(next + 5, std::int64_t{row.utc_ambiguous});
      insert.Step();
      inserted += sqlite3_changes(db_);
    }
    return inserted;
  }

  std::optional<std::pair<dev_t, ino_t>> identity_;
  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, StoreAccess access) {
  return std::make_unique<SqliteStore>(path, access);
}

}  // namespace pq640collect
