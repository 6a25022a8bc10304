#include "sqlite_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "schema.h"

namespace pq640collect {
namespace {

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

std::optional<PQ640_DateTime> OptionalTime(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return ParseTimeText(*text);
}

const char* Table(LogKind log) { return log == LogKind::kIo ? "io_records" : "admin_records"; }

class FileClaim : public Claim {
 public:
  explicit FileClaim(int fd) : fd_(fd) {}
  ~FileClaim() override { close(fd_); }  // closing drops the flock
  FileClaim(const FileClaim&) = delete;
  FileClaim& operator=(const FileClaim&) = delete;

 private:
  int fd_;
};

class SqliteStore : public Store {
 public:
  explicit SqliteStore(const std::string& path) : path_(path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
      const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw StoreError("SQLite: cannot open " + path + ": " + message);
    }
    // Workers on one machine write the same file; a commit of a large cycle
    // can keep the others waiting for a while.
    sqlite3_busy_timeout(db_, 60000);
    Execute("PRAGMA journal_mode = WAL");
    Execute("PRAGMA synchronous = FULL");
    Execute("PRAGMA foreign_keys = ON");
  }
  ~SqliteStore() override { sqlite3_close(db_); }
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  void Migrate() override {
    Execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY, applied_at BIGINT NOT NULL)");
    Transaction transaction(*this);
    Statement current(db_, "SELECT COALESCE(MAX(version), 0) FROM schema_version");
    current.Step();
    const std::int64_t have = current.Integer(0);
    for (const Migration& migration : Migrations(Dialect::kSqlite)) {
      if (migration.version <= have) continue;
      for (const std::string& statement : migration.statements) Execute(statement.c_str());
      Statement record(db_, "INSERT INTO schema_version (version, applied_at) VALUES (?, strftime('%s','now'))");
      record.Bind(1, std::int64_t{migration.version}).Step();
    }
    transaction.Commit();
  }

  void RegisterTerminal(const TerminalConfig& terminal) override {
    const std::string link = terminal.tcp_address ? "tcp:" + *terminal.tcp_address
                                                  : "serial:" + std::to_string(*terminal.serial_port);
    Transaction transaction(*this);
    Statement upsert(db_,
                     "INSERT INTO terminals (name, link, terminal_id, time_zone) VALUES (?, ?, ?, ?) "
                     "ON CONFLICT (name) DO UPDATE SET link = excluded.link, "
                     "terminal_id = excluded.terminal_id, time_zone = excluded.time_zone");
    upsert.Bind(1, terminal.name).Bind(2, link).Bind(3, std::int64_t{terminal.terminal_id}).Bind(4, terminal.time_zone).Step();
    Statement state(db_, "INSERT INTO sync_state (terminal) VALUES (?) ON CONFLICT (terminal) DO NOTHING");
    state.Bind(1, terminal.name).Step();
    transaction.Commit();
  }

  SyncState State(const std::string& terminal) override {
    Statement query(db_,
                    "SELECT io_watermark, admin_watermark, io_pruned_through, admin_pruned_through, "
                    "last_attempt, last_success, next_due, failures FROM sync_state WHERE terminal = ?");
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

  void Commit(const CycleCommit& commit) override {
    Transaction transaction(*this);
    InsertIo(commit);
    InsertAdmin(commit);
    Statement state(db_,
                    "UPDATE sync_state SET io_watermark = COALESCE(?, io_watermark), "
                    "admin_watermark = COALESCE(?, admin_watermark), last_attempt = ?, last_success = ?, "
                    "next_due = ?, failures = 0, last_error = NULL, clock_drift = ? WHERE terminal = ?");
    std::optional<std::string> io_mark, admin_mark;
    if (commit.io_watermark) io_mark = TimeText(*commit.io_watermark);
    if (commit.admin_watermark) admin_mark = TimeText(*commit.admin_watermark);
    state.Bind(1, io_mark).Bind(2, admin_mark).Bind(3, commit.finished_at).Bind(4, commit.finished_at)
        .Bind(5, commit.next_due).Bind(6, commit.clock_drift).Bind(7, commit.terminal).Step();
    transaction.Commit();
  }

  void LowerWatermarks(const std::string& terminal, const PQ640_DateTime& to) override {
    const std::string mark = TimeText(to);
    Statement update(db_,
                     "UPDATE sync_state SET io_watermark = MIN(io_watermark, ?1), "
                     "admin_watermark = MIN(admin_watermark, ?1) WHERE terminal = ?2");
    update.Bind(1, mark).Bind(2, terminal).Step();
  }

  void RecordPruned(const std::string& terminal, LogKind log, const PQ640_DateTime& through) override {
    const std::string sql = std::string("UPDATE sync_state SET ") +
                            (log == LogKind::kIo ? "io_pruned_through" : "admin_pruned_through") +
                            " = ? WHERE terminal = ?";
    Statement update(db_, sql.c_str());
    update.Bind(1, TimeText(through)).Bind(2, terminal).Step();
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
    Statement query(db_,
                    "SELECT t.name, s.last_success, s.last_attempt, "
                    "(SELECT COUNT(*) FROM io_records r WHERE r.terminal = t.name), "
                    "(SELECT COUNT(*) FROM admin_records r WHERE r.terminal = t.name), "
                    "s.io_watermark, s.clock_drift, s.failures, s.last_error "
                    "FROM terminals t LEFT JOIN sync_state s ON s.terminal = t.name ORDER BY t.name");
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
      rows.push_back(std::move(row));
    }
    return rows;
  }

  void Export(LogKind log, const std::string& since, const std::string& until,
              const std::function<void(const ExportRow&)>& row) override {
    const std::string sql =
        log == LogKind::kIo
            ? "SELECT terminal, local_time, utc_time, user_id, verification, in_out, work_code, raw "
              "FROM io_records WHERE local_time BETWEEN ? AND ? ORDER BY terminal, local_time, rowid"
            : "SELECT terminal, local_time, utc_time, admin_id, operation, 0, target_user_id, raw "
              "FROM admin_records WHERE local_time BETWEEN ? AND ? ORDER BY terminal, local_time, rowid";
    Statement query(db_, sql.c_str());
    query.Bind(1, since).Bind(2, until);
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
      row(out);
    }
  }

  std::unique_ptr<Claim> TryClaim(const std::string& terminal) override {
    const std::filesystem::path dir = path_ + ".claims";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    // Hex of the name: any terminal name becomes a safe file name.
    std::string file;
    for (unsigned char c : terminal) {
      static const char* digits = "0123456789abcdef";
      file += digits[c >> 4];
      file += digits[c & 15];
    }
    const int fd = open((dir / (file + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw StoreError("cannot create the claim file in " + dir.string() + ": " + std::strerror(errno));
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      return nullptr;
    }
    return std::make_unique<FileClaim>(fd);
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

  void InsertIo(const CycleCommit& commit) {
    if (commit.io_rows.empty()) return;
    Statement insert(db_,
                     "INSERT INTO io_records (terminal, local_time, utc_time, user_id, verification, "
                     "in_out, work_code, raw, twin, collected_at) VALUES (?,?,?,?,?,?,?,?,?,?) "
                     "ON CONFLICT (terminal, raw, twin) DO NOTHING");
    for (const LogRow& row : commit.io_rows) {
      const IoFields fields = DecodeIo(row.raw);
      insert.Reset();
      insert.Bind(1, commit.terminal).Bind(2, TimeText(RecordTime(row.raw)));
      if (row.utc) insert.Bind(3, TimeText(*row.utc)); else insert.BindNull(3);
      insert.Bind(4, std::int64_t{fields.user_id}).Bind(5, std::int64_t{fields.verification})
          .Bind(6, std::int64_t{fields.in_out}).Bind(7, std::int64_t{fields.work_code}).Bind(8, row.raw)
          .Bind(9, std::int64_t{row.twin}).Bind(10, commit.finished_at);
      insert.Step();
    }
  }

  void InsertAdmin(const CycleCommit& commit) {
    if (commit.admin_rows.empty()) return;
    Statement insert(db_,
                     "INSERT INTO admin_records (terminal, local_time, utc_time, admin_id, operation, "
                     "target_user_id, raw, twin, collected_at) VALUES (?,?,?,?,?,?,?,?,?) "
                     "ON CONFLICT (terminal, raw, twin) DO NOTHING");
    for (const LogRow& row : commit.admin_rows) {
      const AdminFields fields = DecodeAdmin(row.raw);
      insert.Reset();
      insert.Bind(1, commit.terminal).Bind(2, TimeText(RecordTime(row.raw)));
      if (row.utc) insert.Bind(3, TimeText(*row.utc)); else insert.BindNull(3);
      insert.Bind(4, std::int64_t{fields.admin_id}).Bind(5, std::int64_t{fields.operation})
          .Bind(6, std::int64_t{fields.target_user_id}).Bind(7, row.raw).Bind(8, std::int64_t{row.twin})
          .Bind(9, commit.finished_at);
      insert.Step();
    }
  }

  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& path) { return std::make_unique<SqliteStore>(path); }

}  // namespace pq640collect
