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
  virtual void RegisterTerminal(const TerminalConfig& terminal) = 0;
  virtual SyncState State(const std::string& terminal) = 0;
  // Rows of this log held for the terminal at exactly this local second.
  virtual std::int64_t CountAt(const std::string& terminal, LogKind log,
                               const PQ640_DateTime& second) = 0;
  // Rows held with local time in from..to, both included.
  virtual std::int64_t CountBetween(const std::string& terminal, LogKind log,
                                    const PQ640_DateTime& from, const PQ640_DateTime& to) = 0;
  // Inserts the rows (twins already held are skipped), moves the watermarks
  // and records the success, in one transaction.
  virtual void Commit(const CycleCommit& commit) = 0;
  // A clock set backwards: later punches carry earlier times, so the next
  // read must start there. Never moves a watermark forward.
  virtual void LowerWatermarks(const std::string& terminal, const PQ640_DateTime& to) = 0;
  virtual void RecordPruned(const std::string& terminal, LogKind log,
                            const PQ640_DateTime& through) = 0;
  virtual void RecordFailure(const std::string& terminal, const std::string& error,
                             std::int64_t at, std::int64_t next_due, int failures) = 0;
  virtual void RecordDrift(const std::string& terminal, std::int64_t drift) = 0;

  virtual std::vector<TerminalStatus> Status() = 0;
  // Rows with local time in since..until, in terminal and time order.
  virtual void Export(LogKind log, const std::string& since, const std::string& until,
                      const std::function<void(const ExportRow&)>& row) = 0;

  // Only one process at a time syncs a terminal: nothing when another holds it.
  virtual std::unique_ptr<Claim> TryClaim(const std::string& terminal) = 0;
};

// "sqlite:PATH" or a PostgreSQL URL; throws StoreError.
std::unique_ptr<Store> OpenStore(const std::string& url);

}  // namespace pq640collect
