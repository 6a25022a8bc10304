#include "sync_cycle.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include "terminal_link.h"
#include "time_zone.h"

namespace pq640collect {
namespace {

struct LogFetch {
  std::vector<LogRow> rows;
  std::optional<PQ640_DateTime> watermark;
  std::int64_t read = 0;
};

// Everything from the watermark (its second again: records of that second
// may have been only partly there last time) up to `end`.
LogFetch FetchLog(TerminalLink& link, Store& store, const TerminalConfig& terminal, LogKind log,
                  const std::optional<PQ640_DateTime>& watermark, const PQ640_DateTime& end,
                  UtcConverter* utc) {
  LogFetch fetch;
  const PQ640_DateTime from = watermark.value_or(kFirstSecond);
  // A terminal clock behind the watermark: nothing new can be told apart
  // yet; keep the watermark where it is.
  if (WallSeconds(end) < WallSeconds(from)) return fetch;
  const PQ640_RecordQuery query = RangeQuery(terminal.query_template, from, end);
  const std::uint32_t counted = link.Count(log, query);
  fetch.watermark = end;
  // Only the watermark second's records, all held already: skip the read.
  if (counted == 0 || (watermark && counted == store.CountAt(terminal.name, log, from))) return fetch;
  const std::vector<RawRecord> records = link.Read(log, query, counted);
  fetch.read = static_cast<std::int64_t>(records.size());
  const std::vector<std::uint32_t> twins = DuplicateIndexes(records);
  fetch.rows.reserve(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    // A record outside the asked range means the terminal reads its query
    // differently than configured; storing it could misplace the watermark
    // logic, so refuse the whole cycle.
    const std::int64_t at = WallSeconds(RecordTime(records[i]));
    if (at < WallSeconds(from) || at > WallSeconds(end)) {
      throw std::runtime_error("the terminal answered a time-range query with a record from " +
                               TimeText(RecordTime(records[i])) + ", outside " + TimeText(from) + " .. " +
                               TimeText(end) + " (check query_template)");
    }
    LogRow row{records[i], twins[i], std::nullopt};
    if (utc != nullptr) row.utc = utc->ToUtc(RecordTime(records[i]));
    fetch.rows.push_back(row);
  }
  return fetch;
}

// Deletes on the terminal what is older than keep_on_terminal and strictly
// before the committed watermark, and only when the database holds at least
// as many records of that span as the terminal does.
void Prune(TerminalLink& link, Store& store, const TerminalConfig& terminal, LogKind log,
           const std::optional<PQ640_DateTime>& committed, const std::optional<PQ640_DateTime>& pruned_through,
           const PQ640_DateTime& clock) {
  if (!terminal.keep_on_terminal || !committed) return;
  const std::int64_t cutoff = std::min(WallSeconds(*committed) - 1, WallSeconds(clock) - terminal.keep_on_terminal->count());
  const std::int64_t start = pruned_through ? WallSeconds(*pruned_through) + 1 : WallSeconds(kFirstSecond);
  // Each prune costs two commands; a long retention need not be exact to the
  // minute, so prune at most hourly (or as often as a short retention asks).
  const std::int64_t every = std::min<std::int64_t>(kPruneEverySeconds, terminal.keep_on_terminal->count());
  if (cutoff < start || (pruned_through && cutoff - WallSeconds(*pruned_through) < every)) return;
  const PQ640_DateTime from = FromWallSeconds(start);
  const PQ640_DateTime to = FromWallSeconds(cutoff);
  const PQ640_RecordQuery query = RangeQuery(terminal.query_template, from, to);
  const std::uint32_t on_terminal = link.Count(log, query);
  const std::int64_t held = store.CountBetween(terminal.name, log, from, to);
  if (held < on_terminal) {
    throw std::runtime_error("not pruning: the terminal holds " + std::to_string(on_terminal) +
                             " records from " + TimeText(from) + " to " + TimeText(to) +
                             " but the database only " + std::to_string(held));
  }
  if (on_terminal > 0) link.Delete(log, query);
  store.RecordPruned(terminal.name, log, to);
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
    TerminalLink link(terminal);
    const PQ640_DateTime clock = link.ReadClock();
    const PQ640_DateTime host = HostNow(terminal.time_zone);
    report.clock_drift = WallSeconds(clock) - WallSeconds(host);
    const PQ640_DateTime end = FromWallSeconds(WallSeconds(clock) - kSettleSeconds);

    std::unique_ptr<UtcConverter> utc;
    if (terminal.time_zone) utc = std::make_unique<UtcConverter>(*terminal.time_zone);
    LogFetch io = FetchLog(link, store, terminal, LogKind::kIo, state.io_watermark, end, utc.get());
    LogFetch admin;
    if (terminal.admin_log) {
      admin = FetchLog(link, store, terminal, LogKind::kAdmin, state.admin_watermark, end, utc.get());
    }
    report.io_read = io.read;
    report.admin_read = admin.read;

    CycleCommit commit;
    commit.terminal = terminal.name;
    commit.io_rows = std::move(io.rows);
    commit.admin_rows = std::move(admin.rows);
    commit.io_watermark = io.watermark;
    commit.admin_watermark = admin.watermark;
    commit.clock_drift = report.clock_drift;
    commit.finished_at = std::time(nullptr);
    commit.next_due = commit.finished_at + terminal.every.count();
    store.Commit(commit);

    Prune(link, store, terminal, LogKind::kIo, io.watermark ? io.watermark : state.io_watermark,
          state.io_pruned_through, clock);
    if (terminal.admin_log) {
      Prune(link, store, terminal, LogKind::kAdmin, admin.watermark ? admin.watermark : state.admin_watermark,
            state.admin_pruned_through, clock);
    }

    if (terminal.set_clock && std::abs(report.clock_drift) > terminal.max_drift.count()) {
      // Punches after a backward set carry earlier times than the watermark:
      // move it back first, so that a crash in between loses nothing.
      const PQ640_DateTime fresh = HostNow(terminal.time_zone);
      store.LowerWatermarks(terminal.name, FromWallSeconds(WallSeconds(fresh) - kSettleSeconds));
      link.SetClock(fresh);
      store.RecordDrift(terminal.name, 0);
    }
    report.ok = true;
  } catch (const std::exception& error) {
    report.error = error.what();
    const std::int64_t now = std::time(nullptr);
    const int failures = state.failures + 1;
    try {
      store.RecordFailure(terminal.name, report.error, now, now + BackoffSeconds(config, failures), failures);
    } catch (const StoreError& store_error) {
      report.error += "; recording the failure failed too: " + std::string(store_error.what());
    }
  }
  return report;
}

}  // namespace pq640collect
