// Commands whose answer carries a payload of fixed size: the clock, the
// settings block and the record counts.
#include <memory>

#include "fuzz_harness.h"

using namespace pq640::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input;
  if (!SplitInput(data, size, &input)) return 0;
  PrepareTerminal(input);
  const auto clock = std::make_unique<PQ640_DateTime>();
  const auto block = std::make_unique<PQ640_SystemData>();
  const auto count = std::make_unique<std::uint32_t>(0xC0FFEEu);
  const PQ640_RecordQuery query{};
  const std::uint32_t ids[1] = {7};
  PQ640_ResultCode result = 0;
  switch (input.selector % 5) {
    case 0: result = PQ640_GetDateTime(clock.get()); break;
    case 1: result = PQ640_GetSystemData(block.get()); break;
    case 2: result = PQ640_GetIORecordNum(&query, count.get()); break;
    case 3: result = PQ640_GetAdminRecordNum(&query, count.get()); break;
    default: result = PQ640_GetUsersIORecordNum(1, ids, 0xFF, clock.get(), clock.get(), count.get()); break;
  }
  CheckOutcome(input, result);
  return 0;
}
