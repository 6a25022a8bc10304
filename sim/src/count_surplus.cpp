#include "count_surplus.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "pq640sim/little_endian.h"

namespace pq640sim {

void AddCountSurplus(Reply& reply, std::uint32_t surplus, std::size_t last_entry_size) {
  if (reply.payload.size() < 4) return;
  const std::uint64_t announced = std::uint64_t{LoadU32(reply.payload, 0)} + surplus;
  StoreU32(reply.payload, 0,
           static_cast<std::uint32_t>(std::min<std::uint64_t>(
               announced, std::numeric_limits<std::uint32_t>::max())));
  if (last_entry_size == 0 || reply.payload.size() < 4 + last_entry_size) return;
  const std::vector<std::uint8_t> last(reply.payload.end() - static_cast<std::ptrdiff_t>(last_entry_size),
                                       reply.payload.end());
  const std::uint32_t copies = std::min(surplus, kMaxSurplusSent);
  reply.payload.reserve(reply.payload.size() + std::size_t{copies} * last_entry_size);
  for (std::uint32_t i = 0; i < copies; ++i) {
    reply.payload.insert(reply.payload.end(), last.begin(), last.end());
  }
}

}  // namespace pq640sim
