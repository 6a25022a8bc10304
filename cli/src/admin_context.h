// What one run of pq640-admin was asked to do. The command line fills it:
// every argument and input file is checked, and the command's action set,
// before the port is opened, so a usage error never reaches the terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "record_output.h"

namespace pq640admin {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailed = 1,  // the library or the terminal reported a failure after contact
  kExitUsage = 2,   // the command line or an input was wrong; nothing was sent
};

// Exactly one of tcp_address and serial_port is set.
struct LinkOptions {
  std::optional<std::string> tcp_address;
  std::optional<std::uint16_t> serial_port;
  std::uint32_t baud_code = 2;
  std::uint16_t terminal_id = 0;
  bool wake = false;
};

struct AdminContext {
  LinkOptions link;
  OutputFormat format = OutputFormat::kTable;
  bool quiet = false;
  // Runs with the port open; returns the exit status.
  std::function<int()> action;
};

}  // namespace pq640admin
