#include "pq640sim/command_table.h"

#include <array>
#include <cstdio>

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
