#include "pq640sim/response_plan.h"

#include <span>

#include "pq640sim/wire_format.h"

namespace pq640sim {

PlannedResponse PlanResponse(std::uint16_t terminal_id, const Reply& reply, const Faults& faults) {
  const std::uint16_t answer_id = faults.answer_terminal_id.value_or(terminal_id);
  const std::span<const std::uint8_t> payload =
      reply.result == kResultOk ? std::span<const std::uint8_t>(reply.payload)
                                : std::span<const std::uint8_t>();
  std::vector<std::uint8_t> frame = EncodeResponse(answer_id, reply.result, payload);
  if (faults.corrupt_checksum) frame.back() ^= 0xFF;

  PlannedResponse plan;
  plan.bytes = faults.noise_before_start;
  plan.bytes.insert(plan.bytes.end(), frame.begin(), frame.end());
  plan.delay_ms = faults.response_delay_ms;
  plan.drip_interval_ms = faults.drip_interval_ms;
  if (faults.close_after_bytes) {
    plan.cut_after = faults.close_after_bytes;
    plan.close_at_cut = true;
  } else if (faults.stall_after_bytes) {
    plan.cut_after = faults.stall_after_bytes;
  }
  return plan;
}

}  // namespace pq640sim
