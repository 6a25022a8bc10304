// The IO records of a list of users between two points in time.
#include <optional>

#include "link/byte_channel.h"
#include "logs/log_reading.h"
#include "protocol/arguments.h"
#include "protocol/bulk_transfer.h"
#include "protocol/framing.h"

using namespace pq640;

namespace {

// The request of both commands: count, IDs, selector, from, to; all sent as
// the caller gave them. Ends after the response header.
ResultCode SendUsersQuery(const CommandInfo& command, std::uint32_t n, const std::uint32_t* ids,
                          std::uint8_t selector, const PQ640_DateTime* from,
                          const PQ640_DateTime* to) {
  if (!IsValidBatchSize(n)) return PQ640_OUT_OF_RANGE;
  if (const ResultCode r = StartRequest(command); r != PQ640_OK) return r;
  if (const ResultCode r = SendU32(n); r != PQ640_OK) return r;
  if (const ResultCode r = SendBytes(Slot(ids, 0, kIdStride), n * kIdStride); r != PQ640_OK) {
    return r;
  }
  if (const ResultCode r = SendU8(selector); r != PQ640_OK) return r;
  if (const ResultCode r = SendBytes(Slot(from, 0, kDateTimeSize), kDateTimeSize); r != PQ640_OK) {
    return r;
  }
  if (const ResultCode r = SendBytes(Slot(to, 0, kDateTimeSize), kDateTimeSize); r != PQ640_OK) {
    return r;
  }
  return ReadResponseHeader(ResponsePayload::kFollows);
}

ResultCode ReadUsersIORecords(std::uint32_t n, const std::uint32_t* ids, std::uint8_t selector,
                              const PQ640_DateTime* from, const PQ640_DateTime* to,
                              std::optional<std::uint32_t> capacity, std::uint32_t* count,
                              PQ640_IORecord* records, PQ640_ProgressCallback callback) {
  if (AnyNull(ids, from, to, count, records)) return PQ640_INVALID_ARGUMENT;
  if (const ResultCode r =
          SendUsersQuery(kCommandInfo<Command::kGetUsersIORecord>, n, ids, selector, from, to);
      r != PQ640_OK) {
    return r;
  }
  return ReceiveIORecords(count, records, callback, capacity);
}

}  // namespace

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetUsersIORecord(
    std::uint32_t n, const std::uint32_t* ids, std::uint8_t selector, const PQ640_DateTime* from,
    const PQ640_DateTime* to, std::uint32_t* count, PQ640_IORecord* records,
    PQ640_ProgressCallback callback) {
  return ReadUsersIORecords(n, ids, selector, from, to, std::nullopt, count, records, callback);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetUsersIORecordBounded(
    std::uint32_t n, const std::uint32_t* ids, std::uint8_t selector, const PQ640_DateTime* from,
    const PQ640_DateTime* to, std::uint32_t capacity, std::uint32_t* count,
    PQ640_IORecord* records, PQ640_ProgressCallback callback) {
  return ReadUsersIORecords(n, ids, selector, from, to, capacity, count, records, callback);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetUsersIORecordNum(
    std::uint32_t n, const std::uint32_t* ids, std::uint8_t selector, const PQ640_DateTime* from,
    const PQ640_DateTime* to, std::uint32_t* count) {
  if (AnyNull(ids, from, to, count)) return PQ640_INVALID_ARGUMENT;
  if (const ResultCode r =
          SendUsersQuery(kCommandInfo<Command::kGetUsersIORecordNum>, n, ids, selector, from, to);
      r != PQ640_OK) {
    return r;
  }
  return ReceiveRecordCount(count);
}
