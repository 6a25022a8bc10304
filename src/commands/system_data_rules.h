// The range rules of the 256-byte settings block, applied to a block about to
// be written and to a block just read. The rule table is in the public header
// (PQ640_BrokenSystemDataRule), shared with hosts.
#pragma once

#include "pq640/pq640.h"
#include "port/port_state.h"

namespace pq640 {

enum class Direction : bool { kReading, kWriting };

// 0 when every rule holds; otherwise 243 when writing, -104 when reading.
ResultCode CheckSystemData(const PQ640_SystemData& block, Direction direction);

}  // namespace pq640
