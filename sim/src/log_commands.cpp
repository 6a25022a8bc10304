#include "log_commands.h"

#include <algorithm>
#include <vector>

#include "pq640sim/date_time.h"
#include "pq640sim/little_endian.h"

namespace pq640sim {
namespace {

constexpr std::uint8_t kInvalidMonth = 13;

Reply ResultOnly(std::uint8_t result) { return Reply{result, {}}; }

std::optional<LogSelection> QuerySelection(std::span<const std::uint8_t> query) {
  return SelectionOfQuery(query.first<kRecordQuerySize>());
}

LogSelection UsersSelection(std::span<const std::uint8_t> payload) {
  const std::uint32_t count = LoadU32(payload, 0);
  std::vector<std::uint32_t> ids(count);
  for (std::uint32_t i = 0; i < count; ++i) ids[i] = LoadU32(payload, 4 + 4 * i);
  std::sort(ids.begin(), ids.end());
  const auto tail = payload.subspan(4 + 4 * static_cast<std::size_t>(count));
  LogSelection selection;
  selection.owners = std::move(ids);
  if (tail[0] != kAnyInOutState) selection.in_out_state = tail[0];
  selection.from = TimeKeyOf(tail.subspan<1, 6>());
  selection.to = TimeKeyOf(tail.subspan<7, 6>());
  return selection;
}

Reply CountReply(std::size_t count) {
  Reply reply{kResultOk, std::vector<std::uint8_t>(4)};
  StoreU32(reply.payload, 0, static_cast<std::uint32_t>(count));
  return reply;
}

Reply RecordsReply(const std::vector<LogRecord>& records, std::optional<std::size_t> invalid_at) {
  Reply reply = CountReply(records.size());
  reply.payload.reserve(4 + kLogRecordSize * records.size());
  for (const LogRecord& record : records) {
    reply.payload.insert(reply.payload.end(), record.begin(), record.end());
  }
  if (invalid_at && *invalid_at < records.size()) {
    // The month byte of that record: only the answer changes, not the log.
    reply.payload[4 + kLogRecordSize * *invalid_at + kRecordTimeOffset + 1] = kInvalidMonth;
  }
  return reply;
}

}  // namespace

Reply CountLogRecords(const EventLog& log, std::span<const std::uint8_t> query) {
  const auto selection = QuerySelection(query);
  if (!selection) return ResultOnly(kResultUnknownQueryKind);
  return CountReply(log.Count(*selection));
}

Reply GetLogRecords(const EventLog& log, std::span<const std::uint8_t> query,
                    std::optional<std::size_t> invalid_at) {
  const auto selection = QuerySelection(query);
  if (!selection) return ResultOnly(kResultUnknownQueryKind);
  return RecordsReply(log.Select(*selection), invalid_at);
}

Reply DeleteLogRecords(EventLog& log, std::span<const std::uint8_t> query) {
  const auto selection = QuerySelection(query);
  if (!selection) return ResultOnly(kResultUnknownQueryKind);
  log.Erase(*selection);
  return Reply{};
}

Reply AddLogRecord(EventLog& log, std::span<const std::uint8_t> record) {
  LogRecord copy{};
  std::copy_n(record.begin(), kLogRecordSize, copy.begin());
  // The log is kept in time order, so a record needs a real time.
  if (!IsValidDateTime(FromBytes(std::span(copy).subspan<kRecordTimeOffset, 6>()))) {
    return ResultOnly(kResultInvalidDateTime);
  }
  return ResultOnly(log.Add(copy) ? kResultOk : kResultLogFull);
}

Reply CountUsersIoRecords(const EventLog& log, std::span<const std::uint8_t> payload) {
  return CountReply(log.Count(UsersSelection(payload)));
}

Reply GetUsersIoRecords(const EventLog& log, std::span<const std::uint8_t> payload,
                        std::optional<std::size_t> invalid_at) {
  return RecordsReply(log.Select(UsersSelection(payload)), invalid_at);
}

}  // namespace pq640sim
