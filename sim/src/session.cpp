#include "session.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <span>
#include <string>

#include "frame_trace.h"

namespace pq640sim {
namespace {

constexpr std::uint32_t kReadWaitMs = 200;
// A host that never stops sending still gets its answer after this long.
constexpr auto kLongestDrain = std::chrono::seconds(5);

}  // namespace

Session::Session(const SessionContext& context, Channel& channel)
    : context_(context), channel_(channel) {}

void Session::Run() {
  std::array<std::uint8_t, 4096> buffer{};
  for (;;) {
    const Channel::ReadResult read = channel_.Read(buffer, kReadWaitMs);
    if (read.status == Channel::ReadStatus::kClosed || read.status == Channel::ReadStatus::kStopped)
      return;
    if (read.status == Channel::ReadStatus::kIdle) continue;
    parser_.Feed(std::span(buffer).first(read.count));
    while (auto frame = parser_.Next()) {
      if (Serve(*frame) == Next::kEnd) return;
    }
  }
}

Session::Next Session::Serve(const RequestFrame& frame) {
  if (context_.on_frame) context_.on_frame();
  context_.stats.RecordFrame(frame.raw);

  const std::uint16_t own_id = context_.model.TerminalId();
  if (frame.terminal_id != own_id) {
    context_.stats.CountOtherTerminal();
    Trace(RequestTraceLine(frame, "not answered: for terminal " + std::to_string(frame.terminal_id)));
    return Next::kContinue;
  }
  switch (frame.kind) {
    case RequestFrame::Kind::kBadChecksum:
      context_.stats.CountBadChecksum();
      Trace(RequestTraceLine(frame, "not answered: bad checksum"));
      return Next::kContinue;
    case RequestFrame::Kind::kUnknownCommand:
    case RequestFrame::Kind::kMalformedPayload:
      context_.stats.CountUnknownCommand();
      Trace(RequestTraceLine(frame, "cannot parse: draining input"));
      if (DrainInput() == Next::kEnd) return Next::kEnd;
      break;
    case RequestFrame::Kind::kRequest:
      Trace(RequestTraceLine(frame));
      break;
  }

  const Faults faults = context_.faults.Get();
  const PlannedResponse plan = PlanResponse(frame.terminal_id, Decide(frame, faults), faults);
  // Counted before sending, so a host that has its answer never sees a stale count.
  context_.stats.CountServed();
  return Send(plan, frame.command);
}

Reply Session::Decide(const RequestFrame& frame, const Faults& faults) {
  if (faults.answer_result) return Reply{*faults.answer_result, {}};
  switch (frame.kind) {
    case RequestFrame::Kind::kUnknownCommand: return Reply{kResultUnknownCommand, {}};
    case RequestFrame::Kind::kMalformedPayload: return Reply{kResultMalformedRequest, {}};
    default: return context_.model.Handle(frame.command, frame.payload);
  }
}

Session::Next Session::DrainInput() {
  parser_.Reset();
  std::array<std::uint8_t, 1024> discard{};
  const auto give_up = std::chrono::steady_clock::now() + kLongestDrain;
  while (std::chrono::steady_clock::now() < give_up) {
    const Channel::ReadResult read = channel_.Read(discard, context_.unknown_command_idle_ms);
    if (read.status == Channel::ReadStatus::kIdle) break;
    if (read.status != Channel::ReadStatus::kData) return Next::kEnd;
  }
  return Next::kContinue;
}

Session::Next Session::Send(const PlannedResponse& plan, std::uint8_t command) {
  if (plan.delay_ms > 0 && !channel_.Pause(plan.delay_ms)) return Next::kEnd;
  const std::size_t count = std::min(plan.cut_after.value_or(plan.bytes.size()), plan.bytes.size());
  const auto bytes = std::span(plan.bytes).first(count);
  std::string note;
  if (plan.cut_after) {
    note = (plan.close_at_cut ? "closing after " : "stalling after ") + std::to_string(count) +
           " of " + std::to_string(plan.bytes.size()) + " bytes";
  }
  if (plan.drip_interval_ms > 0) note += (note.empty() ? "" : ", ") + std::string("dripping");
  Trace(ResponseTraceLine(command, bytes, note));
  if (plan.drip_interval_ms > 0) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (i > 0 && !channel_.Pause(plan.drip_interval_ms)) return Next::kEnd;
      if (!channel_.Write(bytes.subspan(i, 1))) return Next::kEnd;
    }
  } else if (!channel_.Write(bytes)) {
    return Next::kEnd;
  }
  if (plan.close_at_cut && channel_.Drop()) return Next::kEnd;
  return Next::kContinue;
}

void Session::Trace(const std::string& line) const {
  if (context_.trace) context_.trace(line);
}

}  // namespace pq640sim
