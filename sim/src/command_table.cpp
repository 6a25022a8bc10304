#include "pq640sim/command_table.h"

#include <array>
#include <cstdio>

#include "pq640sim/enrolment_layout.h"
#include "pq640sim/log_layout.h"
#include "pq640sim/system_data.h"

namespace pq640sim {
namespace {

constexpr std::array kCommands{
    CommandInfo{0, "UpdateCommState", &FixedPayload<2>},
    CommandInfo{1, "CheckLink", &FixedPayload<0>},
    CommandInfo{2, "GetSystemData", &FixedPayload<0>},
    CommandInfo{3, "SetSystemData", &FixedPayload<kSystemDataSize>},
    CommandInfo{8, "GetDateTime", &FixedPayload<0>},
    CommandInfo{9, "SetDateTime", &FixedPayload<6>},
    CommandInfo{12, "SetTermCommMode", &FixedPayload<1>},
    CommandInfo{14, "SetMatchingPerform", &FixedPayload<1>},
    CommandInfo{15, "ChangeTerminalID", &FixedPayload<2>},
    CommandInfo{16, "AddUserData", &ScanUserRecord},
    CommandInfo{17, "DeleteUserData", &FixedPayload<4>},
    CommandInfo{18, "DeleteAllUserData", &FixedPayload<0>},
    CommandInfo{19, "GetUserData", &FixedPayload<4>},
    CommandInfo{20, "GetAllUserData", &FixedPayload<1>},
    CommandInfo{21, "AddUsersData", &ScanUserBatch},
    CommandInfo{22, "DeleteUsersData", &ScanIdList},
    CommandInfo{23, "GetUsersData", &ScanIdList},
    CommandInfo{32, "AddAdminData", &ScanAdminRecord},
    CommandInfo{33, "DeleteAdminData", &FixedPayload<4>},
    CommandInfo{34, "DeleteAllAdminData", &FixedPayload<0>},
    CommandInfo{35, "GetAdminData", &FixedPayload<4>},
    CommandInfo{36, "GetAllAdminData", &FixedPayload<1>},
    CommandInfo{64, "GetAdminRecord", &FixedPayload<kRecordQuerySize>},
    CommandInfo{65, "GetAdminRecordNum", &FixedPayload<kRecordQuerySize>},
    CommandInfo{66, "DeleteAdminRecord", &FixedPayload<kRecordQuerySize>},
    CommandInfo{67, "AddAdminRecord", &FixedPayload<kLogRecordSize>},
    CommandInfo{72, "GetIORecord", &FixedPayload<kRecordQuerySize>},
    CommandInfo{73, "GetIORecordNum", &FixedPayload<kRecordQuerySize>},
    CommandInfo{74, "DeleteIORecord", &FixedPayload<kRecordQuerySize>},
    CommandInfo{75, "AddIORecord", &FixedPayload<kLogRecordSize>},
    CommandInfo{76, "GetUsersIORecord", &ScanUsersLogQuery},
    CommandInfo{77, "GetUsersIORecordNum", &ScanUsersLogQuery},
    CommandInfo{224, "DeleteAllDataRom", &FixedPayload<6>},
};

}  // namespace

const CommandInfo* FindCommand(std::uint8_t code) {
  for (const CommandInfo& info : kCommands) {
    if (info.code == code) return &info;
  }
  return nullptr;
}

std::span<const CommandInfo> KnownCommands() { return kCommands; }

std::string DescribeCommand(std::uint8_t code) {
  const CommandInfo* info = FindCommand(code);
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", code);
  return std::string(info ? info->name : "unknown") + " (" + hex + ")";
}

}  // namespace pq640sim
