#include "protocol/framing.h"

#include "link/answer_clock.h"
#include "link/byte_channel.h"
#include "link/link_backend.h"

namespace pq640 {
namespace {

// Bounded twice: by the bytes it may discard and by the command's read wait
// since the request went out (every wait in it is cut to what remains), so a
// terminal dripping other bytes just slower than each read's time-out cannot
// hold the caller either.
ResultCode SkipToStartByte() {
  for (std::uint32_t discarded = 0; discarded <= kMaxDiscardedBeforeStart; ++discarded) {
    if (AnswerTimeLeftMs() == 0) return PQ640_READ_FAILED;
    std::uint8_t byte = 0;
    const ResultCode result = ReceiveU8(&byte);
    if (result != PQ640_OK) return result;
    if (byte == kStartByte) {
      CreditAnswerBytes();
      return PQ640_OK;
    }
  }
  return PQ640_READ_FAILED;
}

}  // namespace

ResultCode SetReadTimeout(std::uint32_t timeout_ms) {
  if (const ResultCode r = ActiveLink().set_read_wait(timeout_ms); r != PQ640_OK) return r;
  Port().response_wait_ms = timeout_ms + kReadWaitExtraMs;
  return PQ640_OK;
}

ResultCode BeginRequest(std::uint8_t command) {
  PortState& state = Port();
  DiscardGathered();
  StopAnswerClock();
  if (const ResultCode r = ActiveLink().prepare_request(); r != PQ640_OK) return r;
  // The whole frame is gathered and leaves when the response is awaited.
  BeginGathering();
  state.checksum_enabled = false;
  // A link failure here shows at the next send.
  (void)SendBytes(reinterpret_cast<const std::uint8_t*>(kPreamble), kPreambleLength);
  if (const ResultCode r = SendU8(kStartByte); r != PQ640_OK) return r;
  state.checksum_enabled = true;
  state.checksum = 0;
  if (const ResultCode r = SendU16(state.terminal_id); r != PQ640_OK) return r;
  return SendU8(command);
}

ResultCode ReadResponseHeader(ResponsePayload payload) {
  PortState& state = Port();
  if (const ResultCode r = ActiveLink().usable(); r != PQ640_OK) return r;
  state.checksum_enabled = false;
  if (const ResultCode r = SendU8(state.checksum); r != PQ640_OK) return r;
  if (const ResultCode r = FlushGathered(); r != PQ640_OK) return r;
  StartAnswerClock(ActiveLink().answer_floor());
  if (const ResultCode r = SkipToStartByte(); r != PQ640_OK) return r;
  state.checksum_enabled = true;
  state.checksum = 0;
  std::uint16_t id = 0;
  if (const ResultCode r = ReceiveU16(&id); r != PQ640_OK) return r;
  if (id != state.terminal_id) return PQ640_WRONG_TERMINAL;
  std::uint8_t result = 0;
  if (const ResultCode r = ReceiveU8(&result); r != PQ640_OK) return r;
  if (result != 0 || payload == ResponsePayload::kNone) {
    if (const ResultCode r = VerifyChecksum(); r != PQ640_OK) return r;
  }
  return result;
}

void AbandonAnswer() { ActiveLink().abandon_answer(); }

ResultCode VerifyChecksum() {
  PortState& state = Port();
  state.checksum_enabled = false;
  std::uint8_t received = 0;
  if (const ResultCode r = ReceiveU8(&received); r != PQ640_OK) return r;
  return received == state.checksum ? PQ640_OK : PQ640_BAD_CHECKSUM;
}

ResultCode StartRequest(const CommandInfo& command) {
  if (const ResultCode r = SetReadTimeout(command.read_timeout_ms); r != PQ640_OK) return r;
  return BeginRequest(CodeOf(command.command));
}

ResultCode Transact(const CommandInfo& command, const std::uint8_t* request,
                    std::uint32_t request_size) {
  if (const ResultCode r = StartRequest(command); r != PQ640_OK) return r;
  if (request_size != 0) {
    if (const ResultCode r = SendBytes(request, request_size); r != PQ640_OK) return r;
  }
  return ReadResponseHeader(ResponsePayload::kNone);
}

ResultCode TransactReading(const CommandInfo& command, const std::uint8_t* request,
                           std::uint32_t request_size, std::uint8_t* response,
                           std::uint32_t response_size) {
  if (const ResultCode r = StartRequest(command); r != PQ640_OK) return r;
  if (request_size != 0) {
    if (const ResultCode r = SendBytes(request, request_size); r != PQ640_OK) return r;
  }
  if (const ResultCode r = ReadResponseHeader(ResponsePayload::kFollows); r != PQ640_OK) return r;
  if (const ResultCode r = ReceiveBytes(response, response_size); r != PQ640_OK) return r;
  return VerifyChecksum();
}

}  // namespace pq640
