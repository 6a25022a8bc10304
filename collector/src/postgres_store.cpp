#include "postgres_store.h"

#include "postgres_connection.h"
#include "postgres_values.h"
#include "schema.h"
#include "store_queries.h"

namespace pq640collect {
namespace {

using namespace postgres;

class PostgresStore : public Store {
 public:
  PostgresStore(const std::string& url, StoreAccess access) : db_(url, access == StoreAccess::kReadOnly) {}

  void Migrate() override {
    db_.InTransaction([&] {
      // Collectors starting together migrate one after the other; even
      // CREATE TABLE IF NOT EXISTS races without the lock.
      db_.Exec("SELECT pg_advisory_xact_lock(6406400)");
      db_.Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY, applied_at BIGINT NOT NULL)");
      const std::int64_t have = db_.Query("SELECT COALESCE(MAX(version), 0) FROM schema_version")->Integer(0, 0);
      for (const Migration& migration : Migrations(Dialect::kPostgres)) {
        if (migration.version <= have) continue;
        for (const std::string& statement : migration.statements) db_.Exec(statement);
        db_.Exec("INSERT INTO schema_version (version, applied_at) VALUES ($1, EXTRACT(EPOCH FROM now())::BIGINT)",
                 {std::to_string(migration.version)});
      }
    });
  }

  void RequireCurrentSchema() override {
    const auto exists = db_.Query("SELECT to_regclass('schema_version') IS NOT NULL");
    if (exists->Text(0, 0) != "t" ||
        db_.Query("SELECT COALESCE(MAX(version), 0) FROM schema_version")->Integer(0, 0) < kSchemaVersion) {
      throw StoreError("PostgreSQL: the database has not been prepared by this version of the collector "
                       "(pq640-collect run migrates it)");
    }
  }

  void RegisterTerminal(const TerminalConfig& terminal) override {
    const std::string link = TerminalLinkText(terminal);
    db_.InTransaction([&] {
      db_.Exec("SELECT pg_advisory_xact_lock(6406401)");  // renames and registrations one at a time
      if (terminal.renamed_from && !Exists(terminal.name) && Exists(*terminal.renamed_from)) {
        MoveTerminal(*terminal.renamed_from, terminal.name);
      }
      const auto other = db_.Query("SELECT name FROM terminals WHERE link = $1 AND terminal_id = $2 AND name <> $3",
                                   {link, std::to_string(terminal.terminal_id), terminal.name});
      if (other->Rows() > 0) {
        const std::string old = other->Text(0, 0);
        throw StoreError("terminal \"" + terminal.name + "\" (" + link + ", id " +
                         std::to_string(terminal.terminal_id) + ") is stored as \"" + old +
                         "\": add renamed_from = \"" + old + "\" to its config, or run pq640-collect rename " + old +
                         " " + terminal.name);
      }
      db_.Exec("INSERT INTO terminals (name, link, terminal_id, time_zone, every_seconds, max_drift_seconds) "
               "VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (name) DO UPDATE SET link = excluded.link, "
               "terminal_id = excluded.terminal_id, time_zone = excluded.time_zone, "
               "every_seconds = excluded.every_seconds, max_drift_seconds = excluded.max_drift_seconds",
               {terminal.name, link, std::to_string(terminal.terminal_id), terminal.time_zone,
                std::to_string(terminal.every.count()), std::to_string(terminal.max_drift.count())});
      db_.Exec("INSERT INTO sync_state (terminal) VALUES ($1) ON CONFLICT (terminal) DO NOTHING", {terminal.name});
    });
  }

  void Rename(const std::string& from, const std::string& to) override {
    db_.InTransaction([&] {
      db_.Exec("SELECT pg_advisory_xact_lock(6406401)");
      if (!Exists(from)) throw StoreError("no terminal \"" + from + "\" is stored");
      if (Exists(to)) throw StoreError("a terminal \"" + to + "\" is stored already");
      MoveTerminal(from, to);
    });
  }

  void CheckIdentity() override { db_.Exec("SELECT 1"); }

  SyncState State(const std::string& terminal) override {
    auto result = db_.Query("SELECT io_watermark, admin_watermark, io_pruned_through, admin_pruned_through, "
                            "last_attempt, last_success, next_due, failures, io_seen, admin_seen, clock_drift "
                            "FROM sync_state WHERE terminal = $1",
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
    state.io_seen = result->OptionalInteger(0, 8);
    state.admin_seen = result->OptionalInteger(0, 9);
    state.clock_drift = result->OptionalInteger(0, 10);
    return state;
  }

  std::int64_t CountAt(const std::string& terminal, LogKind log, const PQ640_DateTime& second) override {
    return CountBetween(terminal, log, second, second);
  }

  std::int64_t CountBetween(const std::string& terminal, LogKind log, const PQ640_DateTime& from,
                            const PQ640_DateTime& to) override {
    return db_.Query(std::string("SELECT COUNT(*) FROM ") + Table(log) +
                         " WHERE terminal = $1 AND local_time BETWEEN $2 AND $3",
                     {terminal, TimeText(from), TimeText(to)})
        ->Integer(0, 0);
  }

  std::optional<PQ640_DateTime> TimeAtRank(const std::string& terminal, LogKind log, const PQ640_DateTime& from,
                                           const PQ640_DateTime& to, std::int64_t rank) override {
    const auto result = db_.Query(std::string("SELECT local_time FROM ") + Table(log) +
                                      " WHERE terminal = $1 AND local_time BETWEEN $2 AND $3 ORDER BY local_time "
                                      "LIMIT 1 OFFSET $4",
                                  {terminal, TimeText(from), TimeText(to), std::to_string(rank)});
    if (result->Rows() == 0) return std::nullopt;
    return ParseTimeText(result->Text(0, 0));
  }

  CommitResult Commit(const CycleCommit& commit) override {
    CommitResult result;
    db_.InTransaction([&] {
      result.io_inserted = Insert(commit.terminal, LogKind::kIo, commit.io_rows, commit.finished_at);
      result.admin_inserted = Insert(commit.terminal, LogKind::kAdmin, commit.admin_rows, commit.finished_at);
      std::optional<std::string> io_mark, admin_mark, io_seen, admin_seen;
      if (commit.io_watermark) io_mark = TimeText(*commit.io_watermark);
      if (commit.admin_watermark) admin_mark = TimeText(*commit.admin_watermark);
      if (commit.io_seen) io_seen = std::to_string(*commit.io_seen);
      if (commit.admin_seen) admin_seen = std::to_string(*commit.admin_seen);
      db_.Exec("UPDATE sync_state SET io_watermark = COALESCE($1, io_watermark), "
               "admin_watermark = COALESCE($2, admin_watermark), last_attempt = $3, last_success = $3, "
               "next_due = $4, failures = 0, last_error = NULL, clock_drift = $5, "
               "io_seen = COALESCE($6::BIGINT, io_seen), admin_seen = COALESCE($7::BIGINT, admin_seen), "
               "clock_event = COALESCE($8, clock_event) "
               "WHERE terminal = $9",
               {io_mark, admin_mark, std::to_string(commit.finished_at), std::to_string(commit.next_due),
                std::to_string(commit.clock_drift), io_seen, admin_seen, commit.clock_event, commit.terminal});
    });
    return result;
  }

  std::int64_t InsertMissing(const std::string& terminal, LogKind log, const std::vector<LogRow>& rows,
                             std::int64_t at) override {
    std::int64_t inserted = 0;
    db_.InTransaction([&] { inserted = Insert(terminal, log, rows, at); });
    return inserted;
  }

  void LowerWatermarks(const std::string& terminal, const PQ640_DateTime& to) override {
    db_.Exec("UPDATE sync_state SET io_watermark = LEAST(io_watermark, $1), "
             "admin_watermark = LEAST(admin_watermark, $1) WHERE terminal = $2",
             {TimeText(to), terminal});
  }

  void RecordPruned(const std::string& terminal, LogKind log, const PQ640_DateTime& through,
                    std::optional<std::int64_t> seen) override {
    const bool io = log == LogKind::kIo;
    db_.Exec(std::string("UPDATE sync_state SET ") + (io ? "io_pruned_through" : "admin_pruned_through") + " = $1, " +
                 (io ? "io_seen" : "admin_seen") + " = $2::BIGINT WHERE terminal = $3",
             {TimeText(through), seen ? std::optional(std::to_string(*seen)) : std::nullopt, terminal});
  }

  void RecordFailure(const std::string& terminal, const std::string& error, std::int64_t at,
                     std::int64_t next_due, int failures) override {
    db_.Exec("UPDATE sync_state SET last_attempt = $1, next_due = $2, failures = $3, last_error = $4 "
             "WHERE terminal = $5",
             {std::to_string(at), std::to_string(next_due), std::to_string(failures), error, terminal});
  }

  void RecordDrift(const std::string& terminal, std::int64_t drift) override {
    db_.Exec("UPDATE sync_state SET clock_drift = $1 WHERE terminal = $2", {std::to_string(drift), terminal});
  }

  std::vector<TerminalStatus> Status() override {
    auto result = db_.Query(StatusQuery());
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
      row.next_due = result->OptionalInteger(i, 9);
      row.clock_event = result->OptionalText(i, 10);
      row.every_seconds = result->OptionalInteger(i, 11);
      row.max_drift_seconds = result->OptionalInteger(i, 12);
      row.late_records = result->Integer(i, 13);
      rows.push_back(std::move(row));
    }
    return rows;
  }

  void Export(LogKind log, const ExportFilter& filter, const std::function<void(const ExportRow&)>& row) override {
    Params params{filter.since, filter.until};
    if (filter.after_seq) params.push_back(std::to_string(*filter.after_seq));
    if (filter.terminal) params.push_back(*filter.terminal);
    auto result = db_.Query(ExportQuery(log, filter, Dialect::kPostgres), params);
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
      out.seq = result->Integer(i, 8);
      out.late = result->Integer(i, 9) != 0;
      out.utc_ambiguous = result->Integer(i, 10) != 0;
      row(out);
    }
  }

  std::unique_ptr<Claim> TryClaim(const std::string& terminal) override { return db_.TryClaim(LockKey(terminal)); }

 private:
  bool Exists(const std::string& terminal) {
    return db_.Query("SELECT 1 FROM terminals WHERE name = $1", {terminal})->Rows() > 0;
  }

  void MoveTerminal(const std::string& from, const std::string& to) {
    db_.Exec("INSERT INTO terminals (name, link, terminal_id, time_zone, every_seconds, max_drift_seconds) "
             "SELECT $1, link, terminal_id, time_zone, every_seconds, max_drift_seconds FROM terminals WHERE name = $2",
             {to, from});
    for (const char* table : {"io_records", "admin_records", "sync_state"}) {
      db_.Exec(std::string("UPDATE ") + table + " SET terminal = $1 WHERE terminal = $2", {to, from});
    }
    db_.Exec("DELETE FROM terminals WHERE name = $1", {from});
  }

  // One statement per log: the rows go as arrays and are unnested on the
  // server, so a large first sync is not 100,000 round trips. The block of
  // sequence numbers is taken first; its row lock is held to the commit, so
  // a transaction committing later numbers its rows higher.
  std::int64_t Insert(const std::string& terminal, LogKind log, const std::vector<LogRow>& rows, std::int64_t at) {
    if (rows.empty()) return 0;
    const std::int64_t last =
        db_.Query("UPDATE row_sequence SET last = last + $1 RETURNING last", {std::to_string(rows.size())})
            ->Integer(0, 0);
    const std::int64_t base = last - static_cast<std::int64_t>(rows.size());
    const InsertArrays arrays = ToInsertArrays(log, rows);
    const std::string source =
        " FROM unnest($2::TEXT[], $3::TEXT[], $4::TEXT[], $5::TEXT[], $6::TEXT[], $7::TEXT[], $8::TEXT[], "
        "$9::TEXT[], $12::TEXT[]) WITH ORDINALITY AS x(l, u, o, k, io, v, r, t, f, n) "
        "ON CONFLICT (terminal, raw, twin) DO NOTHING";
    const std::string sql =
        log == LogKind::kIo
            ? "INSERT INTO io_records (terminal, local_time, utc_time, user_id, verification, in_out, work_code, "
              "raw, twin, collected_at, seq, late, utc_ambiguous) SELECT $1, l, u, o::BIGINT, k::INTEGER, "
              "io::INTEGER, v::BIGINT, decode(r, 'hex'), t::INTEGER, $10, $11::BIGINT + n, f::INTEGER % 2, "
              "f::INTEGER / 2" + source
            : "INSERT INTO admin_records (terminal, local_time, utc_time, admin_id, operation, target_user_id, "
              "raw, twin, collected_at, seq, late, utc_ambiguous) SELECT $1, l, u, o::BIGINT, k::INTEGER, "
              "v::BIGINT, decode(r, 'hex'), t::INTEGER, $10, $11::BIGINT + n, f::INTEGER % 2, f::INTEGER / 2" +
                  source;
    const auto result =
        db_.Query(sql, {terminal, arrays.local, arrays.utc, arrays.owner, arrays.kind, arrays.in_out, arrays.value,
                        arrays.raw, arrays.twin, std::to_string(at), std::to_string(base), arrays.flags});
    return result->Affected();
  }

  Connection db_;
};

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& url, StoreAccess access) {
  return std::make_unique<PostgresStore>(url, access);
}

}  // namespace pq640collect
