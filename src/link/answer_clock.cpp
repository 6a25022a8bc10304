#include "link/answer_clock.h"

#include <algorithm>

namespace pq640 {

void StartAnswerClock(std::uint32_t floor_bytes_per_second) {
  AnswerClock& clock = Port().answer;
  clock = AnswerClock{};
  clock.started_ms = os::MonotonicMs();
  clock.running = true;
  clock.floor_bytes_per_second = std::max<std::uint32_t>(floor_bytes_per_second, 1);
}

void StopAnswerClock() { Port().answer.running = false; }

void CreditAnswerBytes() {
  AnswerClock& clock = Port().answer;
  clock.credited_from = clock.received;
  clock.crediting = true;
}

void CountAnswerBytes(std::uint32_t count) { Port().answer.received += count; }

std::uint64_t AnswerMsEarnedBy(std::uint64_t bytes) {
  const AnswerClock& clock = Port().answer;
  return clock.crediting ? bytes * 1000 / clock.floor_bytes_per_second : 0;
}

std::uint32_t AnswerTimeLeftMs() {
  const PortState& state = Port();
  const AnswerClock& clock = state.answer;
  if (!clock.running) return UINT32_MAX;
  const std::uint64_t allowed =
      state.response_wait_ms + AnswerMsEarnedBy(clock.received - clock.credited_from);
  const std::uint64_t spent = os::MonotonicMs() - clock.started_ms - clock.callback_ms;
  if (spent >= allowed) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(allowed - spent, UINT32_MAX));
}

std::uint32_t BoundedWaitMs(std::uint32_t wait_ms, bool* tightened) {
  const std::uint32_t left = AnswerTimeLeftMs();
  *tightened = left < wait_ms;
  return std::min(left, wait_ms);
}

void ReportProgress(PQ640_ProgressCallback callback, std::uint32_t total, std::uint32_t index) {
  if (callback == nullptr) return;
  const std::uint64_t before = os::MonotonicMs();
  callback(total, index);
  Port().answer.callback_ms += os::MonotonicMs() - before;
}

}  // namespace pq640
