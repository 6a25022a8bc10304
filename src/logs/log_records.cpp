// The IO log and the administrator log, selected by a query the terminal
// interprets: count, read, add and delete.
#include <optional>

#include "commands/calendar.h"
#include "link/byte_channel.h"
#include "logs/log_reading.h"
#include "protocol/arguments.h"
#include "protocol/bulk_transfer.h"
#include "protocol/framing.h"

namespace pq640 {

ResultCode ReceiveIORecords(std::uint32_t* count, PQ640_IORecord* records,
                            PQ640_ProgressCallback callback, std::optional<std::uint32_t> capacity) {
  std::uint32_t n = 0;
  if (const ResultCode r = ReceiveU32(&n); r != PQ640_OK) return r;
  if (!EntriesFit(n, capacity, count)) return PQ640_BUFFER_TOO_SMALL;
  *count = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    ReportProgress(callback, n, i);
    std::uint8_t* record = Slot(records, i, kLogRecordSize);
    if (const ResultCode r = ReceiveBytes(record, kLogRecordSize); r != PQ640_OK) return r;
    if (!IsValidDateTime(record)) return PQ640_INVALID_ARGUMENT;
    ++*count;
  }
  ReportProgress(callback, n, n);
  return VerifyChecksum();
}

ResultCode ReceiveRecordCount(std::uint32_t* count) {
  if (const ResultCode r = ReceiveU32(count); r != PQ640_OK) return r;
  return VerifyChecksum();
}

}  // namespace pq640

using namespace pq640;

namespace {

const std::uint8_t* QueryBytes(const PQ640_RecordQuery* query) { return query->bytes; }

// Request with the query as payload, up to the response header.
ResultCode SendQuery(const CommandInfo& command, const PQ640_RecordQuery* query) {
  if (const ResultCode r = StartRequest(command); r != PQ640_OK) return r;
  if (const ResultCode r = SendBytes(QueryBytes(query), kRecordQuerySize); r != PQ640_OK) return r;
  return ReadResponseHeader(ResponsePayload::kFollows);
}

ResultCode CountRecords(const CommandInfo& command, const PQ640_RecordQuery* query,
                        std::uint32_t* count) {
  if (AnyNull(query, count)) return PQ640_INVALID_ARGUMENT;
  if (const ResultCode r = SendQuery(command, query); r != PQ640_OK) return r;
  return ReceiveRecordCount(count);
}

ResultCode ReadIORecords(const PQ640_RecordQuery* query, std::optional<std::uint32_t> capacity,
                         std::uint32_t* count, PQ640_IORecord* records,
                         PQ640_ProgressCallback callback) {
  if (AnyNull(query, count, records)) return PQ640_INVALID_ARGUMENT;
  if (const ResultCode r = SendQuery(kCommandInfo<Command::kGetIORecord>, query); r != PQ640_OK) {
    return r;
  }
  return ReceiveIORecords(count, records, callback, capacity);
}

// Administrator log records are passed through unchecked; only an answer
// whose trailer matched tells the caller how many records it holds.
ResultCode ReadAdminRecords(const PQ640_RecordQuery* query, std::optional<std::uint32_t> capacity,
                            std::uint32_t* count, PQ640_AdminRecord* records,
                            PQ640_ProgressCallback callback) {
  if (AnyNull(query, count, records)) return PQ640_INVALID_ARGUMENT;
  if (const ResultCode r = SendQuery(kCommandInfo<Command::kGetAdminRecord>, query);
      r != PQ640_OK) {
    return r;
  }
  std::uint32_t n = 0;
  if (const ResultCode r = ReceiveU32(&n); r != PQ640_OK) return r;
  if (!EntriesFit(n, capacity, count)) return PQ640_BUFFER_TOO_SMALL;
  for (std::uint32_t i = 0; i < n; ++i) {
    ReportProgress(callback, n, i);
    if (const ResultCode r = ReceiveBytes(Slot(records, i, kLogRecordSize), kLogRecordSize);
        r != PQ640_OK) {
      return r;
    }
  }
  ReportProgress(callback, n, n);
  if (const ResultCode r = VerifyChecksum(); r != PQ640_OK) return r;
  *count = n;
  return PQ640_OK;
}

}  // namespace

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetIORecord(const PQ640_RecordQuery* query,
                                                            std::uint32_t* count,
                                                            PQ640_IORecord* records,
                                                            PQ640_ProgressCallback callback) {
  return ReadIORecords(query, std::nullopt, count, records, callback);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetIORecordBounded(
    const PQ640_RecordQuery* query, std::uint32_t capacity, std::uint32_t* count,
    PQ640_IORecord* records, PQ640_ProgressCallback callback) {
  return ReadIORecords(query, capacity, count, records, callback);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetIORecordNum(const PQ640_RecordQuery* query,
                                                               std::uint32_t* count) {
  return CountRecords(kCommandInfo<Command::kGetIORecordNum>, query, count);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_AddIORecord(const PQ640_IORecord* record) {
  if (AnyNull(record)) return PQ640_INVALID_ARGUMENT;
  return Transact(kCommandInfo<Command::kAddIORecord>, Slot(record, 0, kLogRecordSize),
                  kLogRecordSize);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_DeleteIORecord(const PQ640_RecordQuery* query) {
  if (AnyNull(query)) return PQ640_INVALID_ARGUMENT;
  return Transact(kCommandInfo<Command::kDeleteIORecord>, QueryBytes(query), kRecordQuerySize);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetAdminRecord(const PQ640_RecordQuery* query,
                                                               std::uint32_t* count,
                                                               PQ640_AdminRecord* records,
                                                               PQ640_ProgressCallback callback) {
  return ReadAdminRecords(query, std::nullopt, count, records, callback);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetAdminRecordBounded(
    const PQ640_RecordQuery* query, std::uint32_t capacity, std::uint32_t* count,
    PQ640_AdminRecord* records, PQ640_ProgressCallback callback) {
  return ReadAdminRecords(query, capacity, count, records, callback);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetAdminRecordNum(const PQ640_RecordQuery* query,
                                                                  std::uint32_t* count) {
  return CountRecords(kCommandInfo<Command::kGetAdminRecordNum>, query, count);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_AddAdminRecord(const PQ640_AdminRecord* record) {
  if (AnyNull(record)) return PQ640_INVALID_ARGUMENT;
  return Transact(kCommandInfo<Command::kAddAdminRecord>, record->bytes, kLogRecordSize);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_DeleteAdminRecord(const PQ640_RecordQuery* query) {
  if (AnyNull(query)) return PQ640_INVALID_ARGUMENT;
  return Transact(kCommandInfo<Command::kDeleteAdminRecord>, QueryBytes(query), kRecordQuerySize);
}
