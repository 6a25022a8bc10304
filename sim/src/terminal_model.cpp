#include "pq640sim/terminal_model.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "pq640sim/command_table.h"
#include "pq640sim/little_endian.h"

namespace pq640sim {
namespace {

constexpr std::uint16_t kHighestTerminalId = 255;
constexpr std::uint8_t kHighestCommMode = 2;
constexpr std::uint8_t kInvalidMonth = 13;
constexpr std::string_view kEraseConfirmation = "Delete";

Reply Refuse(std::uint8_t result) { return Reply{result, {}}; }

}  // namespace

TerminalModel::TerminalModel(TerminalSettings initial, TerminalClock clock)
    : settings_(std::move(initial)), clock_(std::move(clock)) {}

Reply TerminalModel::Handle(std::uint8_t command, std::span<const std::uint8_t> payload) {
  const CommandInfo* info = FindCommand(command);
  if (info == nullptr) return Refuse(kResultUnknownCommand);
  const PayloadScan scan = info->payload(payload);
  if (scan.status != PayloadScan::Status::kComplete || scan.length != payload.size()) {
    return Refuse(kResultMalformedRequest);
  }
  std::lock_guard lock(mutex_);
  switch (static_cast<Command>(command)) {
    case Command::kUpdateCommState: return UpdateCommState(payload);
    case Command::kCheckLink: return Reply{};
    case Command::kGetSystemData: return GetSystemData();
    case Command::kSetSystemData: return SetSystemDataCommand(payload);
    case Command::kGetDateTime: return GetDateTime();
    case Command::kSetDateTime: return SetDateTime(payload);
    case Command::kSetTermCommMode: return SetTermCommMode(payload);
    case Command::kSetMatchingPerform: return SetMatchingPerform(payload);
    case Command::kChangeTerminalId: return ChangeTerminalId(payload);
    case Command::kDeleteAllDataRom: return DeleteAllDataRom(payload);
  }
  return Refuse(kResultUnknownCommand);
}

// The handlers run under mutex_ and receive payloads of exactly the length
// the command table gives.

Reply TerminalModel::UpdateCommState(std::span<const std::uint8_t> payload) {
  settings_.comm_state = LoadU16(payload, 0);
  return Reply{};
}

Reply TerminalModel::GetSystemData() {
  return Reply{kResultOk, {settings_.system_data.begin(), settings_.system_data.end()}};
}

Reply TerminalModel::SetSystemDataCommand(std::span<const std::uint8_t> payload) {
  SystemData block{};
  std::copy_n(payload.begin(), kSystemDataSize, block.begin());
  if (!IsAcceptableSystemData(block)) return Refuse(kResultSystemDataRejected);
  settings_.system_data = block;
  return Reply{};
}

Reply TerminalModel::GetDateTime() {
  DateTime now = clock_.Now();
  if (clock_fault_) now.month = kInvalidMonth;
  const auto bytes = ToBytes(now);
  return Reply{kResultOk, {bytes.begin(), bytes.end()}};
}

Reply TerminalModel::SetDateTime(std::span<const std::uint8_t> payload) {
  const DateTime value = FromBytes(payload.first<6>());
  if (!IsValidDateTime(value)) return Refuse(kResultInvalidDateTime);
  clock_.Set(value);
  return Reply{};
}

Reply TerminalModel::SetTermCommMode(std::span<const std::uint8_t> payload) {
  if (payload[0] > kHighestCommMode) return Refuse(kResultValueOutOfRange);
  settings_.comm_mode = payload[0];
  return Reply{};
}

Reply TerminalModel::SetMatchingPerform(std::span<const std::uint8_t> payload) {
  settings_.matching_value = payload[0];
  return Reply{};
}

Reply TerminalModel::ChangeTerminalId(std::span<const std::uint8_t> payload) {
  const std::uint16_t new_id = LoadU16(payload, 0);
  if (new_id > kHighestTerminalId) return Refuse(kResultValueOutOfRange);
  // The reply is framed with the ID the request was addressed to; from the
  // next request on the terminal answers only to the new one.
  settings_.terminal_id = new_id;
  return Reply{};
}

Reply TerminalModel::DeleteAllDataRom(std::span<const std::uint8_t> payload) {
  if (!std::equal(payload.begin(), payload.end(), kEraseConfirmation.begin(),
                  kEraseConfirmation.end())) {
    return Refuse(kResultEraseNotConfirmed);
  }
  // Everything stored goes, and the behaviour settings return to their
  // defaults. The terminal ID, the line settings and the clock stay, so the
  // host can still reach the terminal afterwards.
  stored_ = StoredRecords{};
  const TerminalSettings defaults;
  settings_.system_data = defaults.system_data;
  settings_.comm_mode = defaults.comm_mode;
  settings_.matching_value = defaults.matching_value;
  ++erase_count_;
  return Reply{};
}

std::uint16_t TerminalModel::TerminalId() const {
  std::lock_guard lock(mutex_);
  return settings_.terminal_id;
}

ModelSnapshot TerminalModel::Snapshot() const {
  std::lock_guard lock(mutex_);
  return ModelSnapshot{settings_, clock_.Offset(), clock_.Now(), erase_count_, stored_};
}

void TerminalModel::SetTerminalId(std::uint16_t id) {
  std::lock_guard lock(mutex_);
  settings_.terminal_id = id;
}

void TerminalModel::SetSystemData(const SystemData& block) {
  std::lock_guard lock(mutex_);
  settings_.system_data = block;
}

bool TerminalModel::SetClock(const DateTime& now) {
  if (!IsValidDateTime(now)) return false;
  std::lock_guard lock(mutex_);
  clock_.Set(now);
  return true;
}

void TerminalModel::SetStoredRecords(StoredRecords records) {
  std::lock_guard lock(mutex_);
  stored_ = std::move(records);
}

void TerminalModel::SetClockFault(bool on) {
  std::lock_guard lock(mutex_);
  clock_fault_ = on;
}

}  // namespace pq640sim
