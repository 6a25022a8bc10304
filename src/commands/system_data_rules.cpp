#include "commands/system_data_rules.h"

namespace pq640 {

// The rules live in the public header, so that a host can find the offset a
// block breaks before it writes; the library applies the same table.
ResultCode CheckSystemData(const PQ640_SystemData& block, Direction direction) {
  if (PQ640_BrokenSystemDataRule(&block) == nullptr) return PQ640_OK;
  return direction == Direction::kWriting ? PQ640_OUT_OF_RANGE : PQ640_INVALID_ARGUMENT;
}

}  // namespace pq640
