#include "postgres_store.h"

#include <libpq-fe.h>

#include <cstdio>

#include "schema.h"

namespace pq640collect {
namespace {

using Params = std::vector<std::optional<std::string>>;

class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}
  ~Result() { PQclear(result_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  int Rows() const { return PQntuples(result_); }
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

std::string Hex(const RawRecord& raw) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : raw) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

RawRecord FromHex(const std::string& text) {  // "\x0011..." as bytea is printed
  RawRecord raw{};
  for (std::size_t i = 0; i < raw.size() && 2 + 2 * i + 1 < text.size(); ++i) {
    raw[i] = static_cast<std::uint8_t>(std::stoul(text.substr(2 + 2 * i, 2), nullptr, 16));
  }
  return raw;
}

// A PostgreSQL array literal of plain values; null entries become NULL.
std::string ArrayLiteral(const std::vector<std::optional<std::string>>& values) {
  std::string text = "{";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ',';
    text += values[i] ? "\"" + *values[i] + "\"" : "NULL";
  }
  return text + "}";
}

std::optional<PQ640_DateTime> OptionalTime(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return ParseTimeText(*text);
}

const char* Table(LogKind log) { return log == LogKind::kIo ? "io_records" : "admin_records"; }

std::int64_t LockKey(const std::string& terminal) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a of a fixed prefix and the name
  for (char c : "pq640-collect:" + terminal) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return static_cast<std::int64_t>(hash);
}

class PostgresStore;

class AdvisoryClaim : public Claim {
 public:
  AdvisoryClaim(PostgresStore& store, std::int64_t key) : store_(store), key_(key) {}
  ~AdvisoryClaim() override;
  AdvisoryClaim(const AdvisoryClaim&) = delete;
  AdvisoryClaim& operator=(const AdvisoryClaim&) = delete;

 private:
  PostgresStore& store_;
  std::int64_t key_;
};

class PostgresStore : public Store {
 public:
  explicit PostgresStore(const std::string& url) : connection_(PQconnectdb(url.c_str())) {
    if (PQstatus(connection_) != CONNECTION_OK) {
      const std::string message = PQerrorMessage(connection_);
      PQfinish(connection_);
      throw StoreError("PostgreSQL: cannot connect: " + message);
    }
    Exec("SET client_min_messages = warning");
  }
  ~PostgresStore() override { PQfinish(connection_); }
  PostgresStore(const PostgresStore&) = delete;
  PostgresStore& operator=(const PostgresStore&) = delete;

  void Migrate() override {
    Exec("BEGIN");
    try {
      // Collectors starting together migrate one after the other; even
      // CREATE TABLE IF NOT EXISTS races without the lock.
      Exec("SELECT pg_advisory_xact_lock(6406400)");
      Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY, applied_at BIGINT NOT NULL)");
      const std::int64_t have = Query("SELECT COALESCE(MAX(version), 0) FROM schema_version")->Integer(0, 0);
      for (const Migration& migration : Migrations(Dialect::kPostgres)) {
        if (migration.version <= have) continue;
        for (const std::string& statement : migration.statements) Exec(statement);
        Exec("INSERT INTO schema_version (version, applied_at) VALUES ($1, EXTRACT(EPOCH FROM now())::BIGINT)",
             {std::to_string(migration.version)});
      }
      Exec("COMMIT");
    } catch (...) {
      Exec("ROLLBACK");
      throw;
    }
  }

  void RegisterTerminal(const TerminalConfig& terminal) override {
    const std::string link = terminal.tcp_address ? "tcp:" + *terminal.tcp_address
                                                  : "serial:" + std::to_string(*terminal.serial_port);
    Exec("INSERT INTO terminals (name, link, terminal_id, time_zone) VALUES ($1, $2, $3, $4) "
         "ON CONFLICT (name) DO UPDATE SET link = excluded.link, terminal_id = excluded.terminal_id, "
         "time_zone = excluded.time_zone",
         {terminal.name, link, std::to_string(terminal.terminal_id), terminal.time_zone});
    Exec("INSERT INTO sync_state (terminal) VALUES ($1) ON CONFLICT (terminal) DO NOTHING", {terminal.name});
  }

  SyncState State(const std::string& terminal) override {
    auto result = Query("SELECT io_watermark, admin_watermark, io_pruned_through, admin_pruned_through, "
                        "last_attempt, last_success, next_due, failures FROM sync_state WHERE terminal = $1",
                        {terminal});
    SyncState state;
    if (result->Rows() == 0) return state;
    state.io_watermark = OptionalTime(result->OptionalText(0, 0));
    state.admin_watermark = OptionalTime(result->OptionalText(0, 1));
    state.io_pruned_through = OptionalTime(result->OptionalText(0, 2));
    state.admin_pruned_through = OptionalTime(result->OptionalText(0, 3));
    state.last_attempt = result->OptionalInteger(0, 4);
    state.last_success = result->OptionalInteger(0, 5);
    state.next_due = result->OptionalInteger(0, 6);
    state.failures = static_cast<int>(result->Integer(0, 7));
    return state;
  }

  std::int64_t CountAt(const std::string& terminal, LogKind log, const PQ640_DateTime& second) override {
    return CountBetween(terminal, log, second, second);
  }

  std::int64_t CountBetween(const std::string& terminal, LogKind log, const PQ640_DateTime& from,
                            const PQ640_DateTime& to) override {
    return Query(std::string("SELECT COUNT(*) FROM ") + Table(log) +
                     " WHERE terminal = $1 AND local_time BETWEEN $2 AND $3",
                 {terminal, TimeText(from), TimeText(to)})
        ->Integer(0, 0);
  }

  void Commit(const CycleCommit& commit) override {
    Exec("BEGIN");
    try {
      Insert(commit, LogKind::kIo, commit.io_rows);
      Insert(commit, LogKind::kAdmin, commit.admin_rows);
      std::optional<std::string> io_mark, admin_mark;
      if (commit.io_watermark) io_mark = TimeText(*commit.io_watermark);
      if (commit.admin_watermark) admin_mark = TimeText(*commit.admin_watermark);
      Exec("UPDATE sync_state SET io_watermark = COALESCE($1, io_watermark), "
           "admin_watermark = COALESCE($2, admin_watermark), last_attempt = $3, last_success = $3, "
           "next_due = $4, failures = 0, last_error = NULL, clock_drift = $5 WHERE terminal = $6",
           {io_mark, admin_mark, std::to_string(commit.finished_at), std::to_string(commit.next_due),
            std::to_string(commit.clock_drift), commit.terminal});
      Exec("COMMIT");
    } catch (...) {
      PQclear(PQexec(connection_, "ROLLBACK"));
      throw;
    }
  }

  void LowerWatermarks(const std::string& terminal, const PQ640_DateTime& to) override {
    Exec("UPDATE sync_state SET io_watermark = LEAST(io_watermark, $1), "
         "admin_watermark = LEAST(admin_watermark, $1) WHERE terminal = $2",
         {TimeText(to), terminal});
  }

  void RecordPruned(const std::string& terminal, LogKind log, const PQ640_DateTime& through) override {
    Exec(std::string("UPDATE sync_state SET ") + (log == LogKind::kIo ? "io_pruned_through" : "admin_pruned_through") +
             " = $1 WHERE terminal = $2",
         {TimeText(through), terminal});
  }

  void RecordFailure(const std::string& terminal, const std::string& error, std::int64_t at,
                     std::int64_t next_due, int failures) override {
    Exec("UPDATE sync_state SET last_attempt = $1, next_due = $2, failures = $3, last_error = $4 "
         "WHERE terminal = $5",
         {std::to_string(at), std::to_string(next_due), std::to_string(failures), error, terminal});
  }

  void RecordDrift(const std::string& terminal, std::int64_t drift) override {
    Exec("UPDATE sync_state SET clock_drift = $1 WHERE terminal = $2", {std::to_string(drift), terminal});
  }

  std::vector<TerminalStatus> Status() override {
    auto result = Query(
        "SELECT t.name, s.last_success, s.last_attempt, "
        "(SELECT COUNT(*) FROM io_records r WHERE r.terminal = t.name), "
        "(SELECT COUNT(*) FROM admin_records r WHERE r.terminal = t.name), "
        "s.io_watermark, s.clock_drift, s.failures, s.last_error "
        "FROM terminals t LEFT JOIN sync_state s ON s.terminal = t.name ORDER BY t.name");
    std::vector<TerminalStatus> rows;
    for (int i = 0; i < result->Rows(); ++i) {
      TerminalStatus row;
      row.name = result->Text(i, 0);
      row.last_success = result->OptionalInteger(i, 1);
      row.last_attempt = result->OptionalInteger(i, 2);
      row.io_records = result->Integer(i, 3);
      row.admin_records = result->Integer(i, 4);
      row.io_watermark = result->OptionalText(i, 5);
      row.clock_drift = result->OptionalInteger(i, 6);
      row.failures = result->IsNull(i, 7) ? 0 : static_cast<int>(result->Integer(i, 7));
      row.last_error = result->OptionalText(i, 8);
      rows.push_back(std::move(row));
    }
    return rows;
  }

  void Export(LogKind log, const std::string& since, const std::string& until,
              const std::function<void(const ExportRow&)>& row) override {
    const std::string sql =
        log == LogKind::kIo
            ? "SELECT terminal, local_time, utc_time, user_id, verification, in_out, work_code, raw "
              "FROM io_records WHERE local_time BETWEEN $1 AND $2 ORDER BY terminal, local_time, ctid"
            : "SELECT terminal, local_time, utc_time, admin_id, operation, 0, target_user_id, raw "
              "FROM admin_records WHERE local_time BETWEEN $1 AND $2 ORDER BY terminal, local_time, ctid";
    auto result = Query(sql, {since, until});
    for (int i = 0; i < result->Rows(); ++i) {
      ExportRow out;
      out.terminal = result->Text(i, 0);
      out.local_time = result->Text(i, 1);
      out.utc_time = result->OptionalText(i, 2);
      out.owner = static_cast<std::uint32_t>(result->Integer(i, 3));
      out.kind = static_cast<std::uint8_t>(result->Integer(i, 4));
      out.in_out = static_cast<std::uint8_t>(result->Integer(i, 5));
      out.value = static_cast<std::uint32_t>(result->Integer(i, 6));
      out.raw = FromHex(result->Text(i, 7));
      row(out);
    }
  }

  std::unique_ptr<Claim> TryClaim(const std::string& terminal) override {
    const std::int64_t key = LockKey(terminal);
    auto result = Query("SELECT pg_try_advisory_lock($1)", {std::to_string(key)});
    if (result->Text(0, 0) != "t") return nullptr;
    return std::make_unique<AdvisoryClaim>(*this, key);
  }

  // A failed unlock leaves the lock to the end of the session; never throws,
  // as it runs while a claim is dropped.
  void Unlock(std::int64_t key) noexcept {
    try {
      Exec("SELECT pg_advisory_unlock($1)", {std::to_string(key)});
    } catch (const StoreError&) {
    }
  }

 private:
  std::unique_ptr<Result> Query(const std::string& sql, const Params& params = {}) {
    std::vector<const char*> values;
    for (const auto& param : params) values.push_back(param ? param->c_str() : nullptr);
    PGresult* raw = PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                 nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(raw);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
      const std::string message = PQresultErrorMessage(raw);
      PQclear(raw);
      throw StoreError("PostgreSQL: " + message);
    }
    return std::make_unique<Result>(raw);
  }

  void Exec(const std::string& sql, const Params& params = {}) { Query(sql, params); }

  // One statement per cycle and log: the rows go as arrays and are unnested
  // on the server, so a large first sync is not 100,000 round trips.
  void Insert(const CycleCommit& commit, LogKind log, const std::vector<LogRow>& rows) {
    if (rows.empty()) return;
    std::vector<std::optional<std::string>> local, utc, owner, kind, in_out, value, raw, twin;
    for (const LogRow& row : rows) {
      local.push_back(TimeText(RecordTime(row.raw)));
      utc.push_back(row.utc ? std::optional<std::string>(TimeText(*row.utc)) : std::nullopt);
      if (log == LogKind::kIo) {
        const IoFields fields = DecodeIo(row.raw);
        owner.push_back(std::to_string(fields.user_id));
        kind.push_back(std::to_string(fields.verification));
        in_out.push_back(std::to_string(fields.in_out));
        value.push_back(std::to_string(fields.work_code));
      } else {
        const AdminFields fields = DecodeAdmin(row.raw);
        owner.push_back(std::to_string(fields.admin_id));
        kind.push_back(std::to_string(fields.operation));
        in_out.push_back("0");
        value.push_back(std::to_string(fields.target_user_id));
      }
      raw.push_back(Hex(row.raw));
      twin.push_back(std::to_string(row.twin));
    }
    const std::string sql =
        log == LogKind::kIo
            ? "INSERT INTO io_records (terminal, local_time, utc_time, user_id, verification, in_out, work_code, "
              "raw, twin, collected_at) SELECT $1, l, u, o::BIGINT, k::INTEGER, io::INTEGER, v::BIGINT, "
              "decode(r, 'hex'), t::INTEGER, $10 FROM unnest($2::TEXT[], $3::TEXT[], $4::TEXT[], $5::TEXT[], "
              "$6::TEXT[], $7::TEXT[], $8::TEXT[], $9::TEXT[]) AS x(l, u, o, k, io, v, r, t) "
              "ON CONFLICT (terminal, raw, twin) DO NOTHING"
            : "INSERT INTO admin_records (terminal, local_time, utc_time, admin_id, operation, target_user_id, "
              "raw, twin, collected_at) SELECT $1, l, u, o::BIGINT, k::INTEGER, v::BIGINT, "
              "decode(r, 'hex'), t::INTEGER, $10 FROM unnest($2::TEXT[], $3::TEXT[], $4::TEXT[], $5::TEXT[], "
              "$6::TEXT[], $7::TEXT[], $8::TEXT[], $9::TEXT[]) AS x(l, u, o, k, io, v, r, t) "
              "ON CONFLICT (terminal, raw, twin) DO NOTHING";
    Exec(sql, {commit.terminal, ArrayLiteral(local), ArrayLiteral(utc), ArrayLiteral(owner), ArrayLiteral(kind),
               ArrayLiteral(in_out), ArrayLiteral(value), ArrayLiteral(raw), ArrayLiteral(twin),
               std::to_string(commit.finished_at)});
  }

  PGconn* connection_;
};

AdvisoryClaim::~AdvisoryClaim() { store_.Unlock(key_); }

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& url) { return std::make_unique<PostgresStore>(url); }

}  // namespace pq640collect
