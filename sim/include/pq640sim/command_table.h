// The commands the terminal knows: code, name (for traces) and how to find the
// end of each command's request payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pq640sim {

// Verdict of a payload reader on the payload bytes received so far.
struct PayloadScan {
  enum class Status {
    kNeedMore,   // the payload is not complete yet
    kComplete,   // the payload is `length` bytes long
    kMalformed,  // the length fields cannot describe a valid payload
  };
  Status status = Status::kNeedMore;
  std::size_t length = 0;
};

// Looks at the leading payload bytes (all of them that have arrived) and says
// how long the payload is. Fixed-size payloads need no look; variable ones
// (records, ID lists) read their count fields.
using PayloadReader = PayloadScan (*)(std::span<const std::uint8_t> received);

template <std::size_t N>
PayloadScan FixedPayload(std::span<const std::uint8_t> received) {
  if (received.size() < N) return {PayloadScan::Status::kNeedMore, 0};
  return {PayloadScan::Status::kComplete, N};
}

enum class Command : std::uint8_t {
  kUpdateCommState = 0,
  kCheckLink = 1,
  kGetSystemData = 2,
  kSetSystemData = 3,
  kGetDateTime = 8,
  kSetDateTime = 9,
  kSetTermCommMode = 12,
  kSetMatchingPerform = 14,
  kChangeTerminalId = 15,
  kAddUserData = 16,
  kDeleteUserData = 17,
  kDeleteAllUserData = 18,
  kGetUserData = 19,
  kGetAllUserData = 20,
  kAddUsersData = 21,
  kDeleteUsersData = 22,
  kGetUsersData = 23,
  kAddAdminData = 32,
  kDeleteAdminData = 33,
  kDeleteAllAdminData = 34,
  kGetAdminData = 35,
  kGetAllAdminData = 36,
  kGetAdminRecord = 64,
  kGetAdminRecordNum = 65,
  kDeleteAdminRecord = 66,
  kAddAdminRecord = 67,
  kGetIORecord = 72,
  kGetIORecordNum = 73,
  kDeleteIORecord = 74,
  kAddIORecord = 75,
  kGetUsersIORecord = 76,
  kGetUsersIORecordNum = 77,
  kDeleteAllDataRom = 224,
};

struct CommandInfo {
  std::uint8_t code;
  std::string_view name;
  PayloadReader payload;
};

// nullptr for a command the terminal does not know.
using CommandLookup = const CommandInfo* (*)(std::uint8_t code);
const CommandInfo* FindCommand(std::uint8_t code);

std::span<const CommandInfo> KnownCommands();

// "CheckLink (0x01)", or "unknown (0x63)".
std::string DescribeCommand(std::uint8_t code);

}  // namespace pq640sim
