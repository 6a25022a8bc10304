// How a reply goes out on the wire once the faults in force have had their say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "pq640sim/faults.h"
#include "pq640sim/terminal_model.h"

namespace pq640sim {

struct PlannedResponse {
  std::vector<std::uint8_t> bytes;  // noise, then the response frame
  std::uint32_t delay_ms = 0;       // wait before the first byte
  std::optional<std::size_t> cut_after;  // send only this many bytes
  bool close_at_cut = false;        // then drop the connection (TCP)
  std::uint32_t drip_interval_ms = 0;  // pause before every byte after the first
};

// `terminal_id` is the ID the request was addressed to.
PlannedResponse PlanResponse(std::uint16_t terminal_id, const Reply& reply, const Faults& faults);

}  // namespace pq640sim
