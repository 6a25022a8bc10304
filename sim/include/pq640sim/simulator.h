// The simulated terminal on a TCP port or a pseudo-terminal: one service
// thread answers requests with a TerminalModel, subject to injected faults.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pq640sim/date_time.h"
#include "pq640sim/faults.h"
#include "pq640sim/terminal_model.h"
#include "pq640sim/wire_format.h"

namespace pq640sim {

// Receives one line per request and per response, on the service thread (so
// it must not call back into the Simulator's setters).
using TraceSink = std::function<void(std::string_view line)>;

struct SimulatorOptions {
  TerminalSettings settings;
  StoreCapacities capacities;
  std::optional<DateTime> start_clock;  // default: the host's local time
  // Generated after the clock is set, so the logs lie before start_clock.
  GeneratedRecordCounts generated;
  TraceSink trace;                      // default: no trace
  // An unknown command is answered once no byte has arrived for this long.
  std::uint32_t unknown_command_idle_ms = 100;
};

struct RequestCounters {
  std::uint64_t served = 0;          // requests answered (faulty answers included)
  std::uint64_t bad_checksum = 0;    // addressed to us, checksum wrong: not answered
  std::uint64_t other_terminal = 0;  // addressed to another ID: not answered
  std::uint64_t unknown_command = 0; // unknown or malformed: answered after draining
};

class SimulatorCore;

class Simulator {
 public:
  explicit Simulator(SimulatorOptions options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Listens on exactly `address` (dotted IPv4) and `port`. False when already
  // running or when the socket cannot be bound; LastError() says why.
  bool StartTcp(const std::string& address, std::uint16_t port = kDefaultTcpPort);
  // Opens a pseudo-terminal and returns its slave device path; with a
  // `link_path` also creates a symlink there to the slave (replacing an old
  // symlink, never another file). Nothing when already running or on failure.
  std::optional<std::string> StartSerial(const std::string& link_path = "");
  // Ends the service thread (within a few tens of ms) and joins it.
  void Stop();
  bool Running() const;
  std::string LastError() const;

  // Thread-safe. Over TCP, a change to refuse_connections has taken effect
  // when SetFaults returns.
  void SetFaults(const Faults& faults);
  void ClearFaults();
  Faults CurrentFaults() const;

  // The terminal's state, for seeding (see TerminalModel) and inspection.
  TerminalModel& Model();
  ModelSnapshot Snapshot() const;

  std::uint64_t RequestsServed() const;
  RequestCounters Counters() const;
  // Waits until at least `count` requests have been served; false on time-out.
  bool WaitForRequestsServed(std::uint64_t count, std::chrono::milliseconds timeout) const;
  // Raw bytes of the last frame received, preamble to checksum (to the
  // command byte for an unknown command), whether or not it was answered.
  std::vector<std::uint8_t> LastRequest() const;

  // Serial only (0 otherwise): the output baud rate programmed on the slave,
  // as sampled when the last request arrived, and as it is now.
  std::uint32_t ObservedBaud() const;
  std::uint32_t CurrentBaud() const;

 private:
  std::unique_ptr<SimulatorCore> core_;
};

}  // namespace pq640sim
