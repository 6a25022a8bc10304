#include "sync_cycle.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include "reconcile.h"
#include "terminal_link.h"
#include "time_zone.h"

namespace pq640collect {
namespace {

const char* LogName(LogKind log) { return log == LogKind::kIo ? "IO" : "administrator"; }

// Deletes on the terminal what is older than keep_on_terminal and before the
// committed watermark, but only what the database provably holds: the span is
// read first, whatever the database lacks is stored, and only then deleted.
// A late record in the span is therefore collected, never a reason to stop.
void Prune(TerminalLink& link, Store& store, const TerminalConfig& terminal, LogKind log, LogReconciler& reconciler,
           const std::optional<PQ640_DateTime>& committed, const std::optional<PQ640_DateTime>& pruned_through,
           const PQ640_DateTime& clock, CycleReport& report) {
  if (!terminal.keep_on_terminal || !committed) return;
  const std::int64_t cutoff =
      std::min(WallSeconds(*committed) - 1, WallSeconds(clock) - terminal.keep_on_terminal->count());
  // Each prune costs three commands; a long retention need not be exact to
  // the minute, so prune at most hourly (or as often as a short retention asks).
  const std::int64_t every = std::min<std::int64_t>(kPruneEverySeconds, terminal.keep_on_terminal->count());
  const Span span{reconciler.Start(), FromWallSeconds(cutoff)};
  if (cutoff < WallSeconds(span.from) || (pruned_through && cutoff - WallSeconds(*pruned_through) < every)) return;
  const PQ640_RecordQuery query = RangeQuery(terminal.query_template, span.from, span.to);
  std::vector<LogRow> rows = reconciler.ReadRows(span, static_cast<std::uint64_t>(reconciler.Expected(span)), committed);
  // Stored first (and the database checked to be the one opened): after this
  // commit every record read is held, by bytes and position among twins.
  const std::int64_t collected = store.InsertMissing(terminal.name, log, rows, std::time(nullptr));
  report.late += collected;
  if (log == LogKind::kIo) report.io_new += collected; else report.admin_new += collected;
  if (!rows.empty()) {
    store.CheckIdentity();
    link.Delete(log, query);
  }
  const std::uint32_t left = link.Count(log, query);
  store.RecordPruned(terminal.name, log, span.to, std::nullopt);
  std::string note = "deleted " + std::to_string(rows.size()) + " " + LogName(log) + " records up to " +
                     TimeText(span.to) + " on the terminal (keep_on_terminal)";
  if (collected > 0) note += ", " + std::to_string(collected) + " of them collected just before";
  if (left > 0) note += "; " + std::to_string(left) + " arrived in that span meanwhile and stay for the next cycle";
  report.notes.push_back(note);
}

// A clock behind the last collected time, or moved against the host's by
// more than max_drift since the last cycle: said in the log, kept in status,
// and the cycle compares counts in full.
std::optional<std::string> ClockEvent(const TerminalConfig& terminal, const PQ640_DateTime& clock, std::int64_t drift,
                                      const SyncState& state) {
  if (state.io_watermark && WallSeconds(clock) + kSettleSeconds < WallSeconds(*state.io_watermark)) {
    return "clock jumped back: it shows " + TimeText(clock) + ", records were collected up to " +
           TimeText(*state.io_watermark);
  }
  if (state.clock_drift && std::abs(drift - *state.clock_drift) > terminal.max_drift.count()) {
    return "clock jumped " + std::to_string(drift - *state.clock_drift) + " s since the last cycle: it shows " +
           TimeText(clock);
  }
  return std::nullopt;
}

}  // namespace

std::int64_t BackoffSeconds(const CollectorConfig& config, int failures) {
  std::int64_t wait = config.retry.count();
  for (int i = 1; i < failures && wait < config.retry_max.count(); ++i) wait *= 2;
  return std::min<std::int64_t>(wait, config.retry_max.count());
}

CycleReport SyncTerminal(Store& store, const CollectorConfig& config, const TerminalConfig& terminal) {
  CycleReport report;
  SyncState state;
  try {
    state = store.State(terminal.name);
    TerminalLink link(terminal, config.max_read_records);
    const PQ640_DateTime clock = link.ReadClock();
    const PQ640_DateTime host = HostNow(terminal.time_zone);
    report.clock_drift = WallSeconds(clock) - WallSeconds(host);
    const PQ640_DateTime end = FromWallSeconds(std::max<std::int64_t>(0, WallSeconds(clock) - kSettleSeconds));
    const auto event = ClockEvent(terminal, clock, report.clock_drift, state);
    if (event) report.notes.push_back(*event);

    std::unique_ptr<UtcConverter> utc;
    if (terminal.time_zone) utc = std::make_unique<UtcConverter>(*terminal.time_zone);
    LogReconciler io(link, store, terminal, LogKind::kIo, state.io_pruned_through, utc.get());
    LogReconciler admin(link, store, terminal, LogKind::kAdmin, state.admin_pruned_through, utc.get());
    io.SetClock(clock);
    admin.SetClock(clock);
    const bool distrust = event.has_value();
    auto io_outcome = io.Run(state.io_watermark, state.io_seen, distrust);
    LogReconciler::Outcome admin_outcome;
    if (terminal.admin_log) admin_outcome = admin.Run(state.admin_watermark, state.admin_seen, distrust);
    report.io_read = io_outcome.read;
    report.admin_read = admin_outcome.read;

    CycleCommit commit;
    commit.terminal = terminal.name;
    commit.io_rows = std::move(io_outcome.rows);
    commit.admin_rows = std::move(admin_outcome.rows);
    commit.io_watermark = end;
    if (terminal.admin_log) commit.admin_watermark = end;
    commit.io_seen = io_outcome.seen;
    commit.admin_seen = admin_outcome.seen;
    commit.clock_event = event;
    commit.clock_drift = report.clock_drift;
    commit.finished_at = std::time(nullptr);
    commit.next_due = commit.finished_at + terminal.every.count();
    const CommitResult stored = store.Commit(commit);
    report.io_new = stored.io_inserted + io_outcome.inserted_early;
    report.admin_new = stored.admin_inserted + admin_outcome.inserted_early;
    report.late = io_outcome.inserted_early + admin_outcome.inserted_early;

    Prune(link, store, terminal, LogKind::kIo, io, end, state.io_pruned_through, clock, report);
    if (terminal.admin_log) Prune(link, store, terminal, LogKind::kAdmin, admin, end, state.admin_pruned_through, clock, report);

    if (terminal.set_clock && std::abs(report.clock_drift) > terminal.max_drift.count()) {
      // Punches after a backward set carry earlier times than the watermark:
      // move it back first, so the fast path reads them.
      const PQ640_DateTime fresh = HostNow(terminal.time_zone);
      store.LowerWatermarks(terminal.name, FromWallSeconds(WallSeconds(fresh) - kSettleSeconds));
      link.SetClock(fresh);
      store.RecordDrift(terminal.name, 0);
      report.notes.push_back("clock set from " + TimeText(clock) + " to " + TimeText(fresh));
    }
    report.ok = true;
  } catch (const std::exception& error) {
    report.error = error.what();
    const std::int64_t now = std::time(nullptr);
    const int failures = state.failures + 1;
    try {
      store.RecordFailure(terminal.name, report.error, now, now + BackoffSeconds(config, failures), failures);
    } catch (const std::exception& store_error) {
      report.error += "; recording the failure failed too: " + std::string(store_error.what());
    }
  }
  return report;
}

std::int64_t ResyncTerminal(Store& store, const CollectorConfig& config, const TerminalConfig& terminal,
                            const PQ640_DateTime& from, const PQ640_DateTime& to) {
  const SyncState state = store.State(terminal.name);
  TerminalLink link(terminal, config.max_read_records);
  std::unique_ptr<UtcConverter> utc;
  if (terminal.time_zone) utc = std::make_unique<UtcConverter>(*terminal.time_zone);
  std::int64_t inserted = 0;
  for (LogKind log : {LogKind::kIo, LogKind::kAdmin}) {
    if (log == LogKind::kAdmin && !terminal.admin_log) continue;
    LogReconciler reconciler(link, store, terminal, log, std::nullopt, utc.get());
    const Span span{from, to};
    const auto rows = reconciler.ReadRows(span, static_cast<std::uint64_t>(reconciler.Expected(span)),
                                          log == LogKind::kIo ? state.io_watermark : state.admin_watermark);
    inserted += store.InsertMissing(terminal.name, log, rows, std::time(nullptr));
  }
  return inserted;
}

}  // namespace pq640collect
