#include "pq640sim/enrolment_layout.h"

#include "pq640sim/little_endian.h"

namespace pq640sim {
namespace {

using Status = PayloadScan::Status;

constexpr PayloadScan kNeedMore{Status::kNeedMore, 0};
constexpr PayloadScan kMalformed{Status::kMalformed, 0};

// Walks a record from its template-count byte at `offset`: templates, code
// length, code, info.
PayloadScan ScanRecordTail(std::span<const std::uint8_t> received, std::size_t offset,
                           std::size_t info_size) {
  if (received.size() <= offset) return kNeedMore;
  const std::uint8_t templates = received[offset];
  if (templates > kMaxTemplates) return kMalformed;
  offset += 1 + kTemplateSize * templates;
  if (received.size() <= offset) return kNeedMore;
  const std::uint8_t code_length = received[offset];
  if (code_length > kMaxCodeLength) return kMalformed;
  offset += 1 + code_length + info_size;
  if (received.size() < offset) return kNeedMore;
  return {Status::kComplete, offset};
}

// A batch count: known (1..1000), malformed, or still arriving.
PayloadScan ScanCount(std::span<const std::uint8_t> received, std::uint32_t* count) {
  if (received.size() < 4) return kNeedMore;
  *count = LoadU32(received, 0);
  if (*count == 0 || *count > kMaxBatch) return kMalformed;
  return {Status::kComplete, 4};
}

std::size_t CodeLengthOffset(std::span<const std::uint8_t> record, std::size_t count_offset) {
  return count_offset + 1 + kTemplateSize * record[count_offset];
}

bool IsAcceptableCodeLength(std::uint8_t length) {
  return length == 0 || (length >= kMinCodeLength && length <= kMaxCodeLength);
}

}  // namespace

PayloadScan ScanUserRecord(std::span<const std::uint8_t> received) {
  return ScanRecordTail(received, 4, kUserInfoSize);
}

PayloadScan ScanAdminRecord(std::span<const std::uint8_t> received) {
  // The level is judged once the record is complete; its length does not depend on it.
  return ScanRecordTail(received, 5, kAdminInfoSize);
}

PayloadScan ScanUserBatch(std::span<const std::uint8_t> received) {
  std::uint32_t count = 0;
  PayloadScan scan = ScanCount(received, &count);
  if (scan.status != Status::kComplete) return scan;
  std::size_t offset = scan.length;
  for (std::uint32_t i = 0; i < count; ++i) {
    const PayloadScan record = ScanUserRecord(received.subspan(offset));
    if (record.status != Status::kComplete) return record;
    offset += record.length;
  }
  return {Status::kComplete, offset};
}

PayloadScan ScanIdList(std::span<const std::uint8_t> received) {
  std::uint32_t count = 0;
  PayloadScan scan = ScanCount(received, &count);
  if (scan.status != Status::kComplete) return scan;
  const std::size_t length = 4 + 4 * static_cast<std::size_t>(count);
  if (received.size() < length) return kNeedMore;
  return {Status::kComplete, length};
}

PayloadScan ScanUsersLogQuery(std::span<const std::uint8_t> received) {
  std::uint32_t count = 0;
  PayloadScan scan = ScanCount(received, &count);
  if (scan.status != Status::kComplete) return scan;
  const std::size_t length = 4 + 4 * static_cast<std::size_t>(count) + 1 + 6 + 6;
  if (received.size() < length) return kNeedMore;
  return {Status::kComplete, length};
}

bool IsAcceptableUserRecord(std::span<const std::uint8_t> record) {
  return IsAcceptableCodeLength(record[CodeLengthOffset(record, 4)]);
}

bool IsAcceptableAdminRecord(std::span<const std::uint8_t> record) {
  return record[4] <= kMaxAdminLevel && IsAcceptableCodeLength(record[CodeLengthOffset(record, 5)]);
}

}  // namespace pq640sim
