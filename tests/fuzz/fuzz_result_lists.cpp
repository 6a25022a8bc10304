// Bulk add and delete: a result byte per record, with progress callbacks.
#include "fuzz_harness.h"

using namespace pq640::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input;
  if (!SplitInput(data, size, &input)) return 0;
  PrepareTerminal(input);
  ExpectProgress(false);
  const std::uint32_t n = 1 + input.parameter % 8;
  auto results = ExactArray<std::uint8_t>(n);
  PQ640_ResultCode result = 0;
  if (input.selector % 2 == 0) {
    auto users = ExactArray<PQ640_UserData>(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      users[i].id = i;
      users[i].template_count = static_cast<std::uint8_t>(i % 3);
      users[i].code_length = static_cast<std::uint8_t>(i % 2 == 0 ? 0 : 4 + i % 7);
    }
    result = PQ640_AddUsersData(n, users.data(), results.data(), &CheckedProgress);
  } else {
    auto ids = ExactArray<std::uint32_t>(n);
    result = PQ640_DeleteUsersData(n, ids.data(), results.data(), &CheckedProgress);
  }
  CheckOutcome(input, result);
  return 0;
}
