#include "pq640sim/terminal_model.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "count_surplus.h"
#include "log_commands.h"
#include "pq640sim/command_table.h"
#include "pq640sim/enrolment_layout.h"
#include "pq640sim/generated_records.h"
#include "pq640sim/little_endian.h"

namespace pq640sim {
namespace {

constexpr std::uint16_t kHighestTerminalId = 255;
constexpr std::uint8_t kHighestCommMode = 2;
constexpr std::uint8_t kInvalidMonth = 13;
constexpr std::string_view kEraseConfirmation = "Delete";

Reply Refuse(std::uint8_t result) { return Reply{result, {}}; }

}  // namespace

TerminalModel::TerminalModel(TerminalSettings initial, TerminalClock clock,
                             StoreCapacities capacities)
    : settings_(std::move(initial)),
      clock_(std::move(clock)),
      enrolment_(capacities.users, capacities.administrators),
      io_log_(capacities.io_records),
      admin_log_(capacities.admin_records) {}

Reply TerminalModel::Handle(std::uint8_t command, std::span<const std::uint8_t> payload) {
  const CommandInfo* info = FindCommand(command);
  if (info == nullptr) return Refuse(kResultUnknownCommand);
  const PayloadScan scan = info->payload(payload);
  if (scan.status != PayloadScan::Status::kComplete || scan.length != payload.size()) {
    return Refuse(kResultMalformedRequest);
  }
  std::lock_guard lock(mutex_);
  const auto code = static_cast<Command>(command);
  Reply reply = Dispatch(code, payload);
  if (count_surplus_ && reply.result == kResultOk) AddSurplus(code, payload, reply);
  return reply;
}

Reply TerminalModel::Dispatch(Command code, std::span<const std::uint8_t> payload) {
  switch (code) {
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
    case Command::kAddUserData:
    case Command::kDeleteUserData:
    case Command::kDeleteAllUserData:
    case Command::kGetUserData:
    case Command::kGetAllUserData:
    case Command::kAddUsersData:
    case Command::kDeleteUsersData:
    case Command::kGetUsersData:
    case Command::kAddAdminData:
    case Command::kDeleteAdminData:
    case Command::kDeleteAllAdminData:
    case Command::kGetAdminData:
    case Command::kGetAllAdminData: return Enrolment(code, payload);
    case Command::kGetAdminRecord:
    case Command::kGetAdminRecordNum:
    case Command::kDeleteAdminRecord:
    case Command::kAddAdminRecord:
    case Command::kGetIORecord:
    case Command::kGetIORecordNum:
    case Command::kDeleteIORecord:
    case Command::kAddIORecord:
    case Command::kGetUsersIORecord:
    case Command::kGetUsersIORecordNum: return Logs(code, payload);
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
  enrolment_.Clear();
  io_log_.Clear();
  admin_log_.Clear();
  const TerminalSettings defaults;
  settings_.system_data = defaults.system_data;
  settings_.comm_mode = defaults.comm_mode;
  settings_.matching_value = defaults.matching_value;
  ++erase_count_;
  return Reply{};
}

Reply TerminalModel::Enrolment(Command command, std::span<const std::uint8_t> payload) {
  switch (command) {
    case Command::kAddUserData: return enrolment_.AddUser(payload);
    case Command::kDeleteUserData: return enrolment_.DeleteUser(LoadU32(payload, 0));
    case Command::kDeleteAllUserData: return enrolment_.DeleteAllUsers();
    case Command::kGetUserData: return enrolment_.GetUser(LoadU32(payload, 0));
    case Command::kGetAllUserData: return enrolment_.ListUsers(payload[0]);
    case Command::kAddUsersData: return enrolment_.AddUsers(payload);
    case Command::kDeleteUsersData: return enrolment_.DeleteUsers(payload);
    case Command::kGetUsersData: return enrolment_.GetUsers(payload);
    case Command::kAddAdminData: return enrolment_.AddAdmin(payload);
    case Command::kDeleteAdminData: return enrolment_.DeleteAdmin(LoadU32(payload, 0));
    case Command::kDeleteAllAdminData: return enrolment_.DeleteAllAdmins();
    case Command::kGetAdminData: return enrolment_.GetAdmin(LoadU32(payload, 0));
    case Command::kGetAllAdminData: return enrolment_.ListAdmins(payload[0]);
    default: return Refuse(kResultUnknownCommand);
  }
}

Reply TerminalModel::Logs(Command command, std::span<const std::uint8_t> payload) {
  switch (command) {
    case Command::kGetAdminRecord: return GetLogRecords(admin_log_, payload);
    case Command::kGetAdminRecordNum: return CountLogRecords(admin_log_, payload);
    case Command::kDeleteAdminRecord: return DeleteLogRecords(admin_log_, payload);
    case Command::kAddAdminRecord: return AddLogRecord(admin_log_, payload);
    case Command::kGetIORecord: return GetLogRecords(io_log_, payload, invalid_io_record_at_);
    case Command::kGetIORecordNum: return CountLogRecords(io_log_, payload);
    case Command::kDeleteIORecord: return DeleteLogRecords(io_log_, payload);
    case Command::kAddIORecord: return AddLogRecord(io_log_, payload);
    case Command::kGetUsersIORecord: return GetUsersIoRecords(io_log_, payload, invalid_io_record_at_);
    case Command::kGetUsersIORecordNum: return CountUsersIoRecords(io_log_, payload);
    default: return Refuse(kResultUnknownCommand);
  }
}

std::uint16_t TerminalModel::TerminalId() const {
  std::lock_guard lock(mutex_);
  return settings_.terminal_id;
}

ModelSnapshot TerminalModel::Snapshot() const {
  std::lock_guard lock(mutex_);
  StoredRecords stored{enrolment_.Users(), enrolment_.Admins(), io_log_.Records(),
                       admin_log_.Records()};
  return ModelSnapshot{settings_, clock_.Offset(), clock_.Now(), erase_count_, std::move(stored)};
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
  enrolment_.Assign(std::move(records.users), std::move(records.administrators));
  io_log_.Assign(std::move(records.io_records));
  admin_log_.Assign(std::move(records.admin_records));
}

void TerminalModel::Generate(const GeneratedRecordCounts& counts) {
  std::lock_guard lock(mutex_);
  StoredRecords records;
  std::vector<std::uint32_t> user_ids;
  std::vector<std::uint32_t> admin_ids;
  const std::size_t users = std::min(counts.users, enrolment_.UserCapacity());
  const std::size_t admins = std::min(counts.administrators, enrolment_.AdminCapacity());
  for (std::uint32_t id = 1; id <= users; ++id) {
    records.users.emplace(id, GeneratedUserRecord(id));
    user_ids.push_back(id);
  }
  for (std::uint32_t id = 1; id <= admins; ++id) {
    records.administrators.emplace(id, GeneratedAdminRecord(id));
    admin_ids.push_back(id);
  }
  const DateTime now = clock_.Now();
  enrolment_.Assign(std::move(records.users), std::move(records.administrators));
  io_log_.Assign(GeneratedIoRecords(std::min(counts.io_records, io_log_.Capacity()), user_ids, now));
  admin_log_.Assign(GeneratedAdminLogRecords(std::min(counts.admin_records, admin_log_.Capacity()),
                                             admin_ids, user_ids, now));
}

void TerminalModel::SetCapacities(const StoreCapacities& capacities) {
  std::lock_guard lock(mutex_);
  enrolment_.SetCapacities(capacities.users, capacities.administrators);
  io_log_.SetCapacity(capacities.io_records);
  admin_log_.SetCapacity(capacities.admin_records);
}

StoreCapacities TerminalModel::Capacities() const {
  std::lock_guard lock(mutex_);
  return StoreCapacities{enrolment_.UserCapacity(), enrolment_.AdminCapacity(),
                         io_log_.Capacity(), admin_log_.Capacity()};
}

void TerminalModel::SetClockFault(bool on) {
  std::lock_guard lock(mutex_);
  clock_fault_ = on;
}

void TerminalModel::SetInvalidIoRecordAt(std::optional<std::size_t> index) {
  std::lock_guard lock(mutex_);
  invalid_io_record_at_ = index;
}

void TerminalModel::SetCountSurplus(std::optional<std::uint32_t> surplus) {
  std::lock_guard lock(mutex_);
  count_surplus_ = surplus;
}

// The reading answers only: the Num commands keep telling the truth, which is
// exactly what a host sizing its array from them then meets.
void TerminalModel::AddSurplus(Command code, std::span<const std::uint8_t> payload, Reply& reply) const {
  std::size_t entry_size = 0;
  switch (code) {
    case Command::kGetAllUserData:
    case Command::kGetAllAdminData: {
      const RecordTable& table =
          code == Command::kGetAllUserData ? enrolment_.Users() : enrolment_.Admins();
      if (payload[0] == kListIds) entry_size = 4;
      else if (payload[0] == kListRecords) entry_size = table.empty() ? 0 : table.rbegin()->second.size();
      else return;
      break;
    }
    case Command::kGetIORecord:
    case Command::kGetAdminRecord:
    case Command::kGetUsersIORecord: entry_size = kLogRecordSize; break;
    default: return;
  }
  AddCountSurplus(reply, *count_surplus_, entry_size);
}

}  // namespace pq640sim
