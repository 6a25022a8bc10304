// Where collected records live: SQLite or PostgreSQL behind one interface,
// with the same schema (schema.cpp). Records of a cycle and the watermark
// that covers them are committed in one transaction.
#pragma once

#include <pq640/pq640.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "config_file.h"
#include "record_layout.h"

namespace pq640collect {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct LogRow {
  RawRecord raw{};
  std::uint32_t twin = 0;  // position among identical records on the terminal
  std::optional<PQ640_DateTime> utc;
  bool utc_ambiguous = false;  // in the repeated hour when clocks go back
  bool late = false;           // stamped before records collected earlier
};

struct SyncState {
  std::optional<PQ640_DateTime> io_watermark;
  std::optional<PQ640_DateTime> admin_watermark;
  std::optional<PQ640_DateTime> io_pruned_through;
  std::optional<PQ640_DateTime> admin_pruned_through;
  std::optional<std::int64_t> last_attempt;  // host time, Unix seconds
  std::optional<std::int64_t> last_success;
  std::optional<std::int64_t> next_due;
  int failures = 0;
  // The terminal's count over its whole log when the database last held all
  // of it: the same count next time means nothing changed.
  std::optional<std::int64_t> io_seen;
  std::optional<std::int64_t> admin_seen;
  std::optional<std::int64_t> clock_drift;  // as of the last cycle
};

// What one successful cycle commits, all or nothing.
struct CycleCommit {
  std::string terminal;
  std::vector<LogRow> io_rows;
  std::vector<LogRow> admin_rows;
  std::optional<PQ640_DateTime> io_watermark;     // unchanged when empty
  std::optional<PQ640_DateTime> admin_watermark;  // unchanged when empty
  std::int64_t clock_drift = 0;                   // terminal minus host, seconds
  std::int64_t finished_at = 0;
  std::int64_t next_due = 0;
  std::optional<std::int64_t> io_seen;            // unchanged when empty
  std::optional<std::int64_t> admin_seen;
  std::optional<std::string> clock_event;         // a clock jump seen in this cycle
};

struct CommitResult {
  std::int64_t io_inserted = 0;
  std::int64_t admin_inserted = 0;
};

struct TerminalStatus {
  std::string name;
  std::optional<std::int64_t> last_success;
  std::optional<std::int64_t> last_attempt;
  std::int64_t io_records = 0;
  std::int64_t admin_records = 0;
  std::optional<std::string> io_watermark;
  std::optional<std::int64_t> clock_drift;
  int failures = 0;
  std::optional<std::string> last_error;
  std::optional<std::int64_t> next_due;
  std::optional<std::string> clock_event;
  std::optional<std::int64_t> every_seconds;
  std::optional<std::int64_t> max_drift_seconds;
  std::int64_t late_records = 0;
};

struct ExportRow {
  std::string terminal;
  std::string local_time;
  std::optional<std::string> utc_time;
  std::uint32_t owner = 0;  // user ID, or administrator ID
  std::uint8_t kind = 0;    // verification method, or operation
  std::uint8_t in_out = 0;  // IO only
  std::uint32_t value = 0;  // work code, or target user ID
  RawRecord raw{};
  std::int64_t seq = 0;
  bool late = false;
  bool utc_ambiguous = false;
};

struct ExportFilter {
  std::string since = "2000-01-01 00:00:00";  // local times, both included
  std::string until = "2099-12-31 23:59:59";
  std::optional<std::int64_t> after_seq;      // then in seq order
  std::optional<std::string> terminal;
};

enum class StoreAccess {
  kCreate,    // the collector's run: create the file, then migrate
  kWrite,     // a worker: the database must exist (a deleted file is not re-created)
  kReadOnly,  // status and export: never write, never migrate
};

// Held while a terminal is being synced; releasing is destruction.
class Claim {
 public:
  virtual ~Claim() = default;
};

class Store {
 public:
  virtual ~Store() = default;

  // Applies the migrations the database has not seen yet.
  virtual void Migrate() = 0;
  // Throws unless the database has every migration this collector knows.
  virtual void RequireCurrentSchema() = 0;
  // Adds or updates the terminal. Its stored records follow a renamed_from;
  // a stored terminal with the same link and ID under another name that the
  // config no longer lists is refused (it would be collected twice).
  virtual void RegisterTerminal(const TerminalConfig& terminal) = 0;
  // Moves a terminal's records and state to a new name.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Throws unless the database is still the one opened: the SQLite file not
  // deleted or replaced, the PostgreSQL connection alive.
  virtual void CheckIdentity() = 0;
  virtual SyncState State(const std::string& terminal) = 0;
  // Rows of this log held for the terminal at exactly this local second.
  virtual std::int64_t CountAt(const std::string& terminal, LogKind log,
                               const PQ640_DateTime& second) = 0;
  // Rows held with local time in from..to, both included.
  virtual std::int64_t CountBetween(const std::string& terminal, LogKind log,
                                    const PQ640_DateTime& from, const PQ640_DateTime& to) = 0;
  // The local time of the rank-th row (from 0, in time order) held in from..to.
  virtual std::optional<PQ640_DateTime> TimeAtRank(const std::string& terminal, LogKind log,
                                                   const PQ640_DateTime& from, const PQ640_DateTime& to,
                                                   std::int64_t rank) = 0;
  // Inserts the rows (twins already held are skipped), moves the watermarks
  // and records the success, in one transaction.
  virtual CommitResult Commit(const CycleCommit& commit) = 0;
  // Inserts the rows that are not held yet; how many were new.
  virtual std::int64_t InsertMissing(const std::string& terminal, LogKind log, const std::vector<LogRow>& rows,
                                     std::int64_t at) = 0;
  // A clock set backwards: later punches carry earlier times, so the next
  // read must start there. Never moves a watermark forward.
  virtual void LowerWatermarks(const std::string& terminal, const PQ640_DateTime& to) = 0;
  // Records the prune and the terminal's count over its whole log after it.
  virtual void RecordPruned(const std::string& terminal, LogKind log, const PQ640_DateTime& through,
                            std::optional<std::int64_t> seen) = 0;
  virtual void RecordFailure(const std::string& terminal, const std::string& error,
                             std::int64_t at, std::int64_t next_due, int failures) = 0;
  virtual void RecordDrift(const std::string& terminal, std::int64_t drift) = 0;

  virtual std::vector<TerminalStatus> Status() = 0;
  // Rows within the filter, in terminal and time order (seq order with after_seq).
  virtual void Export(LogKind log, const ExportFilter& filter, const std::function<void(const ExportRow&)>& row) = 0;

  // Only one process at a time syncs a terminal: nothing when another holds it.
  virtual std::unique_ptr<Claim> TryClaim(const std::string& terminal) = 0;
};

// "sqlite:PATH" or a PostgreSQL URL; throws StoreError.
std::unique_ptr<Store> OpenStore(const std::string& url, StoreAccess access = StoreAccess::kWrite);

}  // namespace pq640collect
