// What one run of pq640-admin was asked to do: which terminal to reach and
// the one command to run on it. Everything here is checked and loaded before
// the port is opened, so a usage error never reaches the terminal.
#pragma once

#include <pq640/pq640.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace pq640admin {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailed = 1,  // the library or the terminal reported a failure
  kExitUsage = 2,   // the command line was wrong; nothing was sent
};

// Exactly one of tcp_address and serial_port is set.
struct LinkOptions {
  std::optional<std::string> tcp_address;
  std::optional<std::uint16_t> serial_port;
  std::uint32_t baud_code = 2;
  std::uint16_t terminal_id = 0;
  bool wake = false;
};

struct CheckLink {};
struct GetClock {};
struct SetClock {
  PQ640_DateTime value;
};
struct SyncClock {};
struct GetSettings {
  std::string out_path;  // empty: print the block as hex
};
struct SetSettings {
  PQ640_SystemData block;
  std::string path;
};
struct UpdateCommState {
  std::uint32_t word;
};
struct ChangeTerminalId {
  std::uint16_t new_id;
};
struct SetCommMode {
  std::uint8_t mode;
};
struct SetMatching {
  std::uint8_t value;
};
struct EraseAll {};

using Command = std::variant<CheckLink, GetClock, SetClock, SyncClock, GetSettings, SetSettings,
                             UpdateCommState, ChangeTerminalId, SetCommMode, SetMatching, EraseAll>;

struct Invocation {
  LinkOptions link;
  Command command;
};

}  // namespace pq640admin
