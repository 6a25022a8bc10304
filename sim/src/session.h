// Serves requests arriving on one channel: parse, decide, answer, with the
// faults in force. A TCP session lasts one connection; the serial line's
// lasts as long as the server.
#pragma once

#include <cstdint>
#include <functional>

#include "channel.h"
#include "fault_state.h"
#include "pq640sim/request_parser.h"
#include "pq640sim/response_plan.h"
#include "pq640sim/simulator.h"
#include "pq640sim/terminal_model.h"
#include "request_stats.h"

namespace pq640sim {

struct SessionContext {
  TerminalModel& model;
  FaultState& faults;
  RequestStats& stats;
  TraceSink trace;
  std::uint32_t unknown_command_idle_ms = 100;
  // Runs when a frame has arrived, before it is answered (the serial server
  // samples the line's baud rate here).
  std::function<void()> on_frame;
};

class Session {
 public:
  Session(const SessionContext& context, Channel& channel);
  // Returns when the peer closes, a fault drops the connection, or on stop.
  void Run();

 private:
  enum class Next { kContinue, kEnd };

  Next Serve(const RequestFrame& frame);
  Reply Decide(const RequestFrame& frame, const Faults& faults);
  // Discards input until the line has been idle for the idle time.
  Next DrainInput();
  Next Send(const PlannedResponse& plan, std::uint8_t command);
  void Trace(const std::string& line) const;

  const SessionContext& context_;
  Channel& channel_;
  RequestParser parser_;
};

}  // namespace pq640sim
