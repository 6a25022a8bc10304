// The log reads: counted lists of 16-byte records, with the time-stamp check
// on IO records and a closing progress call.
#include "fuzz_harness.h"

using namespace pq640::fuzz;

namespace {

constexpr std::size_t kLogRecordSize = 16;

bool IsValidTimeStamp(const PQ640_DateTime& t) {
  static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.year > 99 || t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 ||
      t.second > 59) {
    return false;
  }
  const bool leap = t.year % 4 == 0;  // 2000..2099
  const int days = t.month == 2 && !leap ? 28 : kDays[t.month - 1];
  return t.day <= days;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input;
  if (!SplitInput(data, size, &input)) return 0;
  PrepareTerminal(input);
  ExpectProgress(true);
  const PQ640_RecordQuery query{};
  const std::uint32_t ids[2] = {1, 2};
  const PQ640_DateTime from{26, 1, 1, 0, 0, 0}, to{26, 12, 31, 23, 59, 59};
  std::uint32_t count = 0xC0FFEEu;
  PQ640_ResultCode result = 0;
  if (input.selector % 6 >= 3) {
    // The bounded reads, with a capacity the terminal knows nothing of.
    const std::uint32_t capacity = input.parameter % 64;
    if (input.selector % 6 == 4) {
      CapacityArray<PQ640_AdminRecord> records(capacity);
      result = PQ640_GetAdminRecordBounded(&query, capacity, &count, records.data(), &CheckedProgress);
      records.CheckNothingWrittenWhenEmpty();
    } else {
      CapacityArray<PQ640_IORecord> records(capacity);
      result = input.selector % 6 == 3
                   ? PQ640_GetIORecordBounded(&query, capacity, &count, records.data(), &CheckedProgress)
                   : PQ640_GetUsersIORecordBounded(2, ids, 0xFF, &from, &to, capacity, &count, records.data(),
                                                   &CheckedProgress);
      records.CheckNothingWrittenWhenEmpty();
    }
    CheckBoundedCount(result, count, capacity);
    CheckOutcome(input, result);
    return 0;
  }
  const std::size_t room = MostEntries(input, kLogRecordSize);
  if (input.selector % 3 == 1) {
    auto records = ExactArray<PQ640_AdminRecord>(room);
    result = PQ640_GetAdminRecord(&query, &count, records.data(), &CheckedProgress);
  } else {
    auto records = ExactArray<PQ640_IORecord>(room);
    result = input.selector % 3 == 0
                 ? PQ640_GetIORecord(&query, &count, records.data(), &CheckedProgress)
                 : PQ640_GetUsersIORecord(2, ids, 0xFF, &from, &to, &count, records.data(), &CheckedProgress);
    // Every record counted carries a valid time stamp.
    if (count != 0xC0FFEEu) {
      if (count > room) Fail("count beyond the records received", count);
      for (std::uint32_t i = 0; i < count; ++i) {
        if (!IsValidTimeStamp(records[i].time)) Fail("counted record with an invalid time", i);
      }
    }
  }
  CheckOutcome(input, result);
  return 0;
}
