// Many enrolment records in one transaction: listing whole tables, and adding,
// deleting or reading up to a batch of users named by the caller.
#include <optional>

#include "link/byte_channel.h"
#include "protocol/arguments.h"
#include "protocol/bulk_transfer.h"
#include "protocol/framing.h"
#include "records/record_codecs.h"

using namespace pq640;

namespace {

// When a listing writes the caller's count: users clear it once the request
// is out and set it as soon as the terminal's count arrives; administrators
// write it once, after the last entry.
enum class CountWrite { kAsSoonAsKnown, kAfterLastEntry };

// Records encoded per hand-over to the byte channel; their pieces live on
// the stack meanwhile.
constexpr std::uint32_t kRecordsPerSend = 32;

bool IsReadingMode(std::uint8_t mode) { return mode == PQ640_LIST_IDS || mode == PQ640_LIST_RECORDS; }

bool IsListingMode(std::uint8_t mode) { return mode <= PQ640_LIST_RECORDS; }

// `capacity`, where the caller gives one, is the number of entries its array
// holds: an answer announcing more is left unread and its count reported.
// Callers that give one also get unknown modes refused before sending.
ResultCode ListAll(const CommandInfo& command, const RecordLayout& layout, CountWrite when,
                   std::optional<std::uint32_t> capacity, std::uint32_t* count, void* buffer,
                   std::uint8_t mode, PQ640_ProgressCallback callback) {
  // The buffer is needed only by the modes that read entries into it.
  if (AnyNull(count) || (IsReadingMode(mode) && buffer == nullptr)) return PQ640_INVALID_ARGUMENT;
  if (capacity && !IsListingMode(mode)) return PQ640_OUT_OF_RANGE;
  if (const ResultCode r = StartRequest(command); r != PQ640_OK) return r;
  if (const ResultCode r = SendU8(mode); r != PQ640_OK) return r;
  if (when == CountWrite::kAsSoonAsKnown) *count = 0;
  if (const ResultCode r = ReadResponseHeader(ResponsePayload::kFollows); r != PQ640_OK) return r;
  std::uint32_t n = 0;
  if (const ResultCode r = ReceiveU32(&n); r != PQ640_OK) return r;
  if (IsReadingMode(mode) && !EntriesFit(n, capacity, count)) return PQ640_BUFFER_TOO_SMALL;
  if (when == CountWrite::kAsSoonAsKnown) *count = n;
  // A mode that reads no entries only reports them, which without a callback
  // is nothing to do (and a count the terminal inflated costs no time).
  if (mode != PQ640_LIST_COUNT && (IsReadingMode(mode) || callback != nullptr)) {
    for (std::uint32_t i = 0; i < n; ++i) {
      ReportProgress(callback, n, i);
      ResultCode r = PQ640_OK;
      if (mode == PQ640_LIST_IDS) {
        r = ReceiveBytes(Slot(buffer, i, kIdStride), kIdStride);
      } else if (mode == PQ640_LIST_RECORDS) {
        r = ReceiveRecord(layout, Slot(buffer, i, kRecordSlotSize));
      }
      if (r != PQ640_OK) return r;
    }
  }
  if (const ResultCode r = VerifyChecksum(); r != PQ640_OK) return r;
  // Administrators: only an answer whose trailer matched tells the caller a count.
  if (when == CountWrite::kAfterLastEntry) *count = n;
  return PQ640_OK;
}

// The request of the ID-list commands: the count, then the IDs as one block
// (the same bytes as one ID at a time, in one send).
ResultCode SendIdList(const CommandInfo& command, std::uint32_t n, const std::uint32_t* ids) {
  if (const ResultCode r = StartRequest(command); r != PQ640_OK) return r;
  if (const ResultCode r = SendU32(n); r != PQ640_OK) return r;
  return SendBytes(Slot(ids, 0, kIdStride), n * kIdStride);
}

}  // namespace

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetAllUserData(std::uint32_t* count,
                                                               void* buffer, std::uint8_t mode,
                                                               PQ640_ProgressCallback callback) {
  return ListAll(kCommandInfo<Command::kGetAllUserData>, kUserLayout, CountWrite::kAsSoonAsKnown,
                 std::nullopt, count, buffer, mode, callback);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetAllUserDataBounded(
    std::uint32_t capacity, std::uint32_t* count, void* buffer, std::uint8_t mode,
    PQ640_ProgressCallback callback) {
  return ListAll(kCommandInfo<Command::kGetAllUserData>, kUserLayout, CountWrite::kAsSoonAsKnown,
                 capacity, count, buffer, mode, callback);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetAllAdminData(std::uint32_t* count,
                                                                void* buffer, std::uint8_t mode,
                                                                PQ640_ProgressCallback callback) {
  return ListAll(kCommandInfo<Command::kGetAllAdminData>, kAdminLayout,
                 CountWrite::kAfterLastEntry, std::nullopt, count, buffer, mode, callback);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetAllAdminDataBounded(
    std::uint32_t capacity, std::uint32_t* count, void* buffer, std::uint8_t mode,
    PQ640_ProgressCallback callback) {
  return ListAll(kCommandInfo<Command::kGetAllAdminData>, kAdminLayout,
                 CountWrite::kAfterLastEntry, capacity, count, buffer, mode, callback);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_AddUsersData(std::uint32_t n,
                                                             const PQ640_UserData* records,
                                                             std::uint8_t* results,
                                                             PQ640_ProgressCallback callback) {
  if (AnyNull(records, results)) return PQ640_INVALID_ARGUMENT;
  if (!IsValidBatchSize(n)) return PQ640_OUT_OF_RANGE;
  // The encoder must never read past a slot, so every record is looked at
  // before the first byte goes out; the terminal judges the rest.
  for (std::uint32_t i = 0; i < n; ++i) {
    if (!IsEncodableRecord(kUserLayout, Slot(records, i, kRecordSlotSize))) {
      return PQ640_OUT_OF_RANGE;
    }
  }
  if (const ResultCode r = StartRequest(kCommandInfo<Command::kAddUsersData>); r != PQ640_OK) {
    return r;
  }
  if (const ResultCode r = SendU32(n); r != PQ640_OK) return r;
  // Records are handed to the channel a group at a time: a thousand users
  // then cost a few dozen sends of the frame rather than one per record.
  os::SendSlice pieces[kRecordsPerSend * kMaxRecordPieces];
  for (std::uint32_t first = 0; first < n; first += kRecordsPerSend) {
    std::uint32_t count = 0;
    for (std::uint32_t i = first; i < n && i < first + kRecordsPerSend; ++i) {
      ReportProgress(callback, n, i);
      count += RecordPieces(kUserLayout, Slot(records, i, kRecordSlotSize), pieces + count);
    }
    if (const ResultCode r = SendPieces(pieces, count); r != PQ640_OK) return r;
  }
  if (const ResultCode r = ReadResponseHeader(ResponsePayload::kFollows); r != PQ640_OK) return r;
  // Without a report to make between them, the result bytes arrive as one
  // block: the same bytes, written to the same places.
  if (callback == nullptr) {
    if (const ResultCode r = ReceiveBytes(results, n); r != PQ640_OK) return r;
    return VerifyChecksum();
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    ReportProgress(callback, n, i);
    if (const ResultCode r = ReceiveU8(results + i); r != PQ640_OK) return r;
  }
  return VerifyChecksum();
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_DeleteUsersData(std::uint32_t n,
                                                                const std::uint32_t* ids,
                                                                std::uint8_t* results,
                                                                PQ640_ProgressCallback callback) {
  if (AnyNull(ids, results)) return PQ640_INVALID_ARGUMENT;
  if (!IsValidBatchSize(n)) return PQ640_OUT_OF_RANGE;
  if (const ResultCode r = SendIdList(kCommandInfo<Command::kDeleteUsersData>, n, ids);
      r != PQ640_OK) {
    return r;
  }
  if (const ResultCode r = ReadResponseHeader(ResponsePayload::kFollows); r != PQ640_OK) return r;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (const ResultCode r = ReceiveU8(results + i); r != PQ640_OK) return r;
    // After the byte: the caller learns that result i has arrived.
    ReportProgress(callback, n, i);
  }
  return VerifyChecksum();
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetUsersData(std::uint32_t* count,
                                                             const std::uint32_t* ids,
                                                             PQ640_UserData* records,
                                                             PQ640_ProgressCallback callback) {
  if (AnyNull(count, ids, records)) return PQ640_INVALID_ARGUMENT;
  const std::uint32_t n = *count;
  if (!IsValidBatchSize(n)) return PQ640_OUT_OF_RANGE;
  if (const ResultCode r = SendIdList(kCommandInfo<Command::kGetUsersData>, n, ids);
      r != PQ640_OK) {
    return r;
  }
  if (const ResultCode r = ReadResponseHeader(ResponsePayload::kFollows); r != PQ640_OK) return r;
  std::uint32_t m = 0;
  if (const ResultCode r = ReceiveU32(&m); r != PQ640_OK) return r;
  // The caller's array has room for the n records asked for and no more.
  if (m > n) return PQ640_INVALID_ARGUMENT;
  *count = m;
  for (std::uint32_t i = 0; i < m; ++i) {
    ReportProgress(callback, m, i);
    if (const ResultCode r = ReceiveUserData(Slot(records, i, kRecordSlotSize)); r != PQ640_OK) {
      return r;
    }
  }
  return VerifyChecksum();
}
