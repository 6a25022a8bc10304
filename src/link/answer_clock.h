// The deadline of one answer (see AnswerClock in port_state.h). The framing
// starts it when the request has gone out; the links ask it before every wait.
#pragma once

#include <cstdint>

#include "port/port_state.h"

namespace pq640 {

// The request has gone out: the answer's time starts, at `floor` bytes a second.
void StartAnswerClock(std::uint32_t floor_bytes_per_second);
// A new request: no answer is awaited until it has gone out.
void StopAnswerClock();
// The start byte has arrived: from here every byte earns time.
void CreditAnswerBytes();
void CountAnswerBytes(std::uint32_t count);
// The time `bytes` earn at the floor rate: none before the start byte.
std::uint64_t AnswerMsEarnedBy(std::uint64_t bytes);
// Milliseconds the answer may still take; 0 when the deadline has passed, and
// no limit while no answer is awaited.
std::uint32_t AnswerTimeLeftMs();
// The longest a wait may last: `wait_ms`, or less when the deadline is nearer.
// Sets *tightened when the deadline is what limits it.
std::uint32_t BoundedWaitMs(std::uint32_t wait_ms, bool* tightened);

// Runs the host's progress callback; its time is not counted against the terminal.
void ReportProgress(PQ640_ProgressCallback callback, std::uint32_t total, std::uint32_t index);

}  // namespace pq640
