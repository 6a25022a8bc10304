#include "pq640sim/simulator.h"

#include <atomic>
#include <utility>

#include "fault_state.h"
#include "request_stats.h"
#include "serial_server.h"
#include "session.h"
#include "tcp_server.h"

namespace pq640sim {
namespace {

// Generous: the service thread applies fault changes every few tens of ms.
constexpr std::chrono::seconds kFaultApplyWait{2};

}  // namespace

class SimulatorCore {
 public:
  explicit SimulatorCore(SimulatorOptions options)
      : options_(std::move(options)),
        model_(options_.settings, TerminalClock(), options_.capacities) {
    if (options_.start_clock) model_.SetClock(*options_.start_clock);
    model_.Generate(options_.generated);
  }

  SessionContext Context() {
    return SessionContext{model_, faults_, stats_, options_.trace,
                          options_.unknown_command_idle_ms, {}};
  }

  SimulatorOptions options_;
  TerminalModel model_;
  FaultState faults_;
  RequestStats stats_;

  mutable std::mutex lifecycle_mutex_;
  std::unique_ptr<TcpServer> tcp_;
  std::unique_ptr<SerialServer> serial_;
  std::atomic<bool> tcp_running_{false};
  std::string last_error_;
};

Simulator::Simulator(SimulatorOptions options)
    : core_(std::make_unique<SimulatorCore>(std::move(options))) {}

Simulator::~Simulator() { Stop(); }

bool Simulator::StartTcp(const std::string& address, std::uint16_t port) {
  std::lock_guard lock(core_->lifecycle_mutex_);
  if (core_->tcp_ || core_->serial_) {
    core_->last_error_ = "already running";
    return false;
  }
  auto server = std::make_unique<TcpServer>(core_->Context());
  if (!server->Start(address, port, &core_->last_error_)) return false;
  core_->tcp_ = std::move(server);
  core_->tcp_running_ = true;
  return true;
}

std::optional<std::string> Simulator::StartSerial(const std::string& link_path) {
  std::lock_guard lock(core_->lifecycle_mutex_);
  if (core_->tcp_ || core_->serial_) {
    core_->last_error_ = "already running";
    return std::nullopt;
  }
  auto server = std::make_unique<SerialServer>(core_->Context());
  std::optional<std::string> path = server->Start(link_path, &core_->last_error_);
  if (path) core_->serial_ = std::move(server);
  return path;
}

void Simulator::Stop() {
  std::lock_guard lock(core_->lifecycle_mutex_);
  core_->tcp_running_ = false;
  core_->tcp_.reset();
  core_->serial_.reset();
}

bool Simulator::Running() const {
  std::lock_guard lock(core_->lifecycle_mutex_);
  return core_->tcp_ || core_->serial_;
}

std::string Simulator::LastError() const {
  std::lock_guard lock(core_->lifecycle_mutex_);
  return core_->last_error_;
}

void Simulator::SetFaults(const Faults& faults) {
  core_->model_.SetClockFault(faults.invalid_clock);
  core_->model_.SetInvalidIoRecordAt(faults.invalid_io_record_at);
  core_->model_.SetCountSurplus(faults.count_surplus);
  const std::uint64_t generation = core_->faults_.Set(faults);
  if (core_->tcp_running_) core_->faults_.WaitApplied(generation, kFaultApplyWait);
}

void Simulator::ClearFaults() { SetFaults(Faults{}); }

Faults Simulator::CurrentFaults() const { return core_->faults_.Get(); }

TerminalModel& Simulator::Model() { return core_->model_; }

ModelSnapshot Simulator::Snapshot() const { return core_->model_.Snapshot(); }

std::uint64_t Simulator::RequestsServed() const { return core_->stats_.Counters().served; }

RequestCounters Simulator::Counters() const { return core_->stats_.Counters(); }

bool Simulator::WaitForRequestsServed(std::uint64_t count, std::chrono::milliseconds timeout) const {
  return core_->stats_.WaitForServed(count, timeout);
}

std::vector<std::uint8_t> Simulator::LastRequest() const { return core_->stats_.LastRequest(); }

std::uint32_t Simulator::ObservedBaud() const { return core_->stats_.ObservedBaud(); }

std::uint32_t Simulator::CurrentBaud() const {
  std::lock_guard lock(core_->lifecycle_mutex_);
  return core_->serial_ ? core_->serial_->CurrentBaud() : 0;
}

}  // namespace pq640sim
