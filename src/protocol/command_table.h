// The terminal's commands: wire code and read time-out of each, in one table.
#pragma once

#include <array>
#include <cstdint>

namespace pq640 {

enum class Command : std::uint8_t {
  kUpdateCommState = 0,
  kCheckLink = 1,
  kGetSystemData = 2,
  kSetSystemData = 3,
  kGetDateTime = 8,
  kSetDateTime = 9,
  kSetTermCommMode = 12,
  kSetMatchingPerform = 14,
  kChangeTerminalID = 15,
  kAddUserData = 0x10,
  kDeleteUserData = 0x11,
  kDeleteAllUserData = 0x12,
  kGetUserData = 0x13,
  kGetAllUserData = 0x14,
  kAddUsersData = 0x15,
  kDeleteUsersData = 0x16,
  kGetUsersData = 0x17,
  kAddAdminData = 0x20,
  kDeleteAdminData = 0x21,
  kDeleteAllAdminData = 0x22,
  kGetAdminData = 0x23,
  kGetAllAdminData = 0x24,
  kGetAdminRecord = 0x40,
  kGetAdminRecordNum = 0x41,
  kDeleteAdminRecord = 0x42,
  kAddAdminRecord = 0x43,
  kGetIORecord = 0x48,
  kGetIORecordNum = 0x49,
  kDeleteIORecord = 0x4A,
  kAddIORecord = 0x4B,
  kGetUsersIORecord = 0x4C,
  kGetUsersIORecordNum = 0x4D,
  kDeleteAllDataRom = 0xE0,
};

struct CommandInfo {
  Command command;
  std::uint32_t read_timeout_ms;
};

inline constexpr std::array<CommandInfo, 33> kCommandTable = {{
    {Command::kUpdateCommState, 2000},
    {Command::kCheckLink, 2000},
    {Command::kGetSystemData, 2000},
    {Command::kSetSystemData, 5000},
    {Command::kGetDateTime, 2000},
    {Command::kSetDateTime, 2000},
    {Command::kSetTermCommMode, 3000},
    {Command::kSetMatchingPerform, 2000},
    {Command::kChangeTerminalID, 2000},
    {Command::kAddUserData, 10000},
    {Command::kDeleteUserData, 10000},
    {Command::kDeleteAllUserData, 30000},
    {Command::kGetUserData, 2000},
    {Command::kGetAllUserData, 10000},
    {Command::kAddUsersData, 30000},
    {Command::kDeleteUsersData, 30000},
    {Command::kGetUsersData, 30000},
    {Command::kAddAdminData, 5000},
    {Command::kDeleteAdminData, 5000},
    {Command::kDeleteAllAdminData, 20000},
    {Command::kGetAdminData, 2000},
    {Command::kGetAllAdminData, 2000},
    {Command::kGetAdminRecord, 2000},
    {Command::kGetAdminRecordNum, 2000},
    {Command::kDeleteAdminRecord, 10000},
    {Command::kAddAdminRecord, 3000},
    {Command::kGetIORecord, 2000},
    {Command::kGetIORecordNum, 2000},
    {Command::kDeleteIORecord, 10000},
    {Command::kAddIORecord, 3000},
    {Command::kGetUsersIORecord, 30000},
    {Command::kGetUsersIORecordNum, 30000},
    {Command::kDeleteAllDataRom, 25000},
}};

constexpr std::uint8_t CodeOf(Command command) { return static_cast<std::uint8_t>(command); }

constexpr CommandInfo FindCommand(Command command) {
  for (const CommandInfo& info : kCommandTable) {
    if (info.command == command) return info;
  }
  return {command, 0};
}

// The table entry of a command, looked up at compile time; a command missing
// from the table does not compile.
template <Command kCommand>
constexpr CommandInfo kCommandInfo = [] {
  constexpr CommandInfo info = FindCommand(kCommand);
  static_assert(info.read_timeout_ms != 0, "command missing from the command table");
  return info;
}();

}  // namespace pq640
