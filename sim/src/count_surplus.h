// A reading answer whose count is larger than what the terminal holds: the
// surplus a host meets when entries arrive between its count and its read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pq640sim/reply.h"

namespace pq640sim {

// Copies of the last entry sent after the real ones; past this many the
// answer ends short, as a terminal cut off mid-answer would.
inline constexpr std::uint32_t kMaxSurplusSent = 1000;

// `reply` is a count (4 bytes, little-endian) followed by entries, the last
// of which is `last_entry_size` bytes long (0: there is none to copy). The
// count grows by `surplus`, saturating at the largest 32-bit value.
void AddCountSurplus(Reply& reply, std::uint32_t surplus, std::size_t last_entry_size);

}  // namespace pq640sim
