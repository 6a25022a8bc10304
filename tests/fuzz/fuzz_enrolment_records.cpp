// Commands that receive user and administrator records: one, a whole table,
// or a list asked for by ID.
#include <memory>

#include "fuzz_harness.h"

using namespace pq640::fuzz;

namespace {

// The smallest record on the wire: ID, counts and info.
constexpr std::size_t kSmallestRecord = 15;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input;
  if (!SplitInput(data, size, &input)) return 0;
  PrepareTerminal(input);
  const std::uint8_t mode = static_cast<std::uint8_t>(input.parameter % 4);
  std::uint32_t count = 0xC0FFEEu;
  PQ640_ResultCode result = 0;
  switch (input.selector % 7) {
    case 0: {
      const auto user = std::make_unique<PQ640_UserData>();
      result = PQ640_GetUserData(user.get());
      break;
    }
    case 1: {
      const auto admin = std::make_unique<PQ640_AdminData>();
      result = PQ640_GetAdminData(admin.get());
      break;
    }
    case 2: {
      ExpectProgress(false);
      // IDs are 4 bytes each, records at least kSmallestRecord.
      auto users = ExactArray<PQ640_UserData>(MostEntries(input, kSmallestRecord));
      auto ids = ExactArray<std::uint32_t>(MostEntries(input, 4));
      void* buffer = mode == PQ640_LIST_IDS ? static_cast<void*>(ids.data()) : static_cast<void*>(users.data());
      // A mode that reads nothing calls back once per entry the terminal
      // claims; without a callback the claim costs nothing.
      result = PQ640_GetAllUserData(&count, buffer, mode, mode == 3 ? nullptr : &CheckedProgress);
      break;
    }
    case 3: {
      ExpectProgress(false);
      auto admins = ExactArray<PQ640_AdminData>(MostEntries(input, kSmallestRecord));
      auto ids = ExactArray<std::uint32_t>(MostEntries(input, 4));
      void* buffer = mode == PQ640_LIST_IDS ? static_cast<void*>(ids.data()) : static_cast<void*>(admins.data());
      result = PQ640_GetAllAdminData(&count, buffer, mode, mode == 3 ? nullptr : &CheckedProgress);
      break;
    }
    case 5:
    case 6: {
      // The bounded listings, with a capacity the terminal knows nothing of.
      ExpectProgress(false);
      const std::uint32_t capacity = input.parameter / 4 % 16;
      CapacityArray<PQ640_UserData> records(capacity);
      CapacityArray<std::uint32_t> ids(capacity);
      void* buffer = mode == PQ640_LIST_IDS ? static_cast<void*>(ids.data()) : static_cast<void*>(records.data());
      result = input.selector % 7 == 5
                   ? PQ640_GetAllUserDataBounded(capacity, &count, buffer, mode, &CheckedProgress)
                   : PQ640_GetAllAdminDataBounded(capacity, &count, buffer, mode, &CheckedProgress);
      records.CheckNothingWrittenWhenEmpty();
      ids.CheckNothingWrittenWhenEmpty();
      if (mode == PQ640_LIST_IDS || mode == PQ640_LIST_RECORDS) CheckBoundedCount(result, count, capacity);
      break;
    }
    default: {
      // The records array holds exactly as many records as IDs asked for.
      ExpectProgress(false);
      const std::uint32_t asked = 1 + input.parameter % 5;
      auto ids = ExactArray<std::uint32_t>(asked);
      auto users = ExactArray<PQ640_UserData>(asked);
      count = asked;
      result = PQ640_GetUsersData(&count, ids.data(), users.data(), &CheckedProgress);
      if (count > asked) Fail("more records than asked for", count);
      break;
    }
  }
  CheckOutcome(input, result);
  return 0;
}
