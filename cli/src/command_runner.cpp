#include "command_runner.h"

#include <pq640/pq640.h>

#include <chrono>
#include <ctime>
#include <iostream>
#include <string>

#include "result_meaning.h"
#include "settings_file.h"
#include "text_format.h"

namespace pq640admin {
namespace {

constexpr const char* kProgram = "pq640-admin";

int Fail(const std::string& what, PQ640_ResultCode code) {
  std::cerr << kProgram << ": " << what << " failed: " << code << " (" << ResultMeaning(code)
            << ")\n";
  return kExitFailed;
}

// Setter rejections are usage errors: the value came from the command line
// and nothing has been sent yet.
int Reject(const std::string& what, PQ640_ResultCode code) {
  std::cerr << kProgram << ": " << what << " rejected: " << code << " (" << ResultMeaning(code)
            << ")\n";
  return kExitUsage;
}

// The address is always set before the port opens, so a TCP command never
// goes to the library's built-in placeholder address.
int SelectLink(const LinkOptions& link) {
  if (link.tcp_address) {
    if (auto r = PQ640_SetTerminalIPAddr(link.tcp_address->c_str()); r != PQ640_OK) {
      return Reject("--tcp " + *link.tcp_address, r);
    }
    if (auto r = PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, link.baud_code); r != PQ640_OK) {
      return Reject("TCP link", r);
    }
  } else {
    const auto r = PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, *link.serial_port, link.baud_code);
    if (r != PQ640_OK) {
      return Reject("--serial " + std::to_string(*link.serial_port) + " --baud-code " +
                        std::to_string(link.baud_code),
                    r);
    }
  }
  if (auto r = PQ640_SetTerminalID(link.terminal_id); r != PQ640_OK) {
    return Reject("--id " + std::to_string(link.terminal_id), r);
  }
  return kExitOk;
}

int Execute(const CheckLink&) {
  if (auto r = PQ640_CheckLink(); r != PQ640_OK) return Fail("link check", r);
  std::cout << "the terminal answers\n";
  return kExitOk;
}

int Execute(const GetClock&) {
  PQ640_DateTime now{};
  if (auto r = PQ640_GetDateTime(&now); r != PQ640_OK) return Fail("reading the clock", r);
  std::cout << FormatDateTime(now) << "\n";
  return kExitOk;
}

int SetClockTo(const PQ640_DateTime& value) {
  if (auto r = PQ640_SetDateTime(&value); r != PQ640_OK) {
    return Fail("setting the clock to " + FormatDateTime(value), r);
  }
  std::cout << "clock set to " << FormatDateTime(value) << "\n";
  return kExitOk;
}

int Execute(const SetClock& command) { return SetClockTo(command.value); }

int Execute(const SyncClock&) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  const auto value = localtime_r(&now, &local) ? DateTimeFromTm(local) : std::nullopt;
  if (!value) {
    std::cerr << kProgram << ": the host's local time is outside 2000..2099\n";
    return kExitFailed;
  }
  return SetClockTo(*value);
}

int Execute(const GetSettings& command) {
  PQ640_SystemData block{};
  if (auto r = PQ640_GetSystemData(&block); r != PQ640_OK)
    return Fail("reading the settings block", r);
  if (command.out_path.empty()) {
    std::cout << FormatHexLines(block.bytes);
    return kExitOk;
  }
  if (!WriteSettingsFile(command.out_path, block)) {
    std::cerr << kProgram << ": cannot write " << command.out_path << "\n";
    return kExitFailed;
  }
  std::cout << "settings block saved to " << command.out_path << "\n";
  return kExitOk;
}

int Execute(const SetSettings& command) {
  if (auto r = PQ640_SetSystemData(&command.block); r != PQ640_OK) {
    return Fail("writing the settings block from " + command.path, r);
  }
  std::cout << "settings block written from " << command.path << "\n";
  return kExitOk;
}

int Execute(const UpdateCommState& command) {
  if (auto r = PQ640_UpdateCommState(command.word); r != PQ640_OK) {
    return Fail("changing the line-setting word to " + std::to_string(command.word), r);
  }
  std::cout << "line-setting word set to " << command.word << "\n";
  return kExitOk;
}

int Execute(const ChangeTerminalId& command) {
  if (auto r = PQ640_ChangeTerminalID(command.new_id); r != PQ640_OK) {
    return Fail("changing the terminal ID to " + std::to_string(command.new_id), r);
  }
  std::cout << "terminal ID changed to " << command.new_id << "; use --id " << command.new_id
            << " from now on\n";
  return kExitOk;
}

int Execute(const SetCommMode& command) {
  const unsigned mode = command.mode;
  if (auto r = PQ640_SetTermCommMode(command.mode); r != PQ640_OK) {
    return Fail("setting communication mode " + std::to_string(mode), r);
  }
  std::cout << "communication mode set to " << mode << "\n";
  return kExitOk;
}

int Execute(const SetMatching& command) {
  const unsigned value = command.value;
  if (auto r = PQ640_SetMatchingPerform(command.value); r != PQ640_OK) {
    return Fail("setting matching value " + std::to_string(value), r);
  }
  std::cout << "matching value set to " << value << "\n";
  return kExitOk;
}

int Execute(const EraseAll&) {
  if (auto r = PQ640_DeleteAllDataRom(); r != PQ640_OK) return Fail("erasing the terminal", r);
  std::cout << "terminal erased\n";
  return kExitOk;
}

}  // namespace

int RunInvocation(const Invocation& invocation) {
  if (int status = SelectLink(invocation.link); status != kExitOk) return status;
  if (auto r = PQ640_OpenPort(); r != PQ640_OK) return Fail("opening the port", r);
  if (invocation.link.wake) PQ640_WakeUp();
  int status = std::visit([](const auto& command) { return Execute(command); }, invocation.command);
  const PQ640_ResultCode closed = PQ640_ClosePort();
  if (closed != PQ640_OK && status == kExitOk) status = Fail("closing the port", closed);
  return status;
}

}  // namespace pq640admin
