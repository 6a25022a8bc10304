#include "command_line.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdint>
#include <string>

#include "settings_file.h"
#include "text_format.h"

namespace pq640admin {
namespace {

// CLI11 reads integers with base prefixes, so "010" would be octal 8. Numbers
// are decimal or 0x-prefixed hex here: leading zeros of a decimal go.
CLI::Validator DecimalOrHex() {
  return CLI::Validator(
      [](std::string& text) {
        const bool is_hex = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        if (!is_hex) {
          const auto first = text.find_first_not_of('0');
          if (first == std::string::npos) {
            if (!text.empty()) text = "0";
          } else if (first > 0 && std::isdigit(static_cast<unsigned char>(text[first]))) {
            text.erase(0, first);
          }
        }
        return std::string();
      },
      "");
}

const CLI::Validator kDateTimeForm(
    [](std::string& text) {
      return ParseDateTime(text) ? std::string()
                                 : "expected \"YY-MM-DD hh:mm:ss\", got \"" + text + "\"";
    },
    "");

}  // namespace

ParseOutcome ParseCommandLine(int argc, char** argv) {
  CLI::App app{"Administers one enrolment/attendance terminal over TCP or a serial line.",
               "pq640-admin"};
  app.require_subcommand(1);
  app.fallthrough();  // link options may also follow the subcommand

  LinkOptions link;
  std::string tcp_address;
  std::uint16_t serial_port = 0;
  auto* transport = app.add_option_group("Link", "How to reach the terminal: exactly one of these");
  auto* tcp =
      transport->add_option("--tcp", tcp_address, "The terminal's IPv4 address (dotted decimal)");
  auto* serial =
      transport->add_option("--serial", serial_port, "Serial port number N (COM1..COM10)")
          ->transform(DecimalOrHex());
  transport->require_option(1);
  app.add_option("--baud-code", link.baud_code,
                 "Baud code of the serial port (0..6 = 2400..115200 baud)")
      ->transform(DecimalOrHex())
      ->capture_default_str()
      ->needs(serial);
  app.add_option("--id", link.terminal_id, "Terminal ID (0..255)")
      ->transform(DecimalOrHex())
      ->capture_default_str();
  app.add_flag("--wake", link.wake, "Wake a sleeping terminal first (serial; takes about 5 s)")
      ->needs(serial);

  std::optional<Command> command;

  app.add_subcommand("check", "Check that the terminal answers")->callback([&] {
    command = CheckLink{};
  });

  auto* time = app.add_subcommand("time", "The terminal's clock");
  time->require_subcommand(1);
  time->add_subcommand("get", "Print the terminal's clock")->callback([&] {
    command = GetClock{};
  });
  std::string clock_text;
  auto* time_set = time->add_subcommand("set", "Set the terminal's clock");
  time_set->add_option("DATETIME", clock_text, "\"YY-MM-DD hh:mm:ss\" (year 00..99 = 2000..2099)")
      ->required()
      ->check(kDateTimeForm);
  time_set->callback([&] { command = SetClock{*ParseDateTime(clock_text)}; });
  time->add_subcommand("sync", "Set the terminal's clock to the host's local time")->callback([&] {
    command = SyncClock{};
  });

  auto* settings = app.add_subcommand("settings", "The terminal's 256-byte settings block");
  settings->require_subcommand(1);
  std::string out_path;
  auto* settings_get = settings->add_subcommand("get", "Print the block as hex, or save it raw");
  settings_get->add_option("--out", out_path, "Write the raw 256 bytes to FILE instead");
  settings_get->callback([&] { command = GetSettings{out_path}; });
  std::string in_path;
  auto* settings_set = settings->add_subcommand("set", "Write the block from a raw 256-byte file");
  settings_set->add_option("FILE", in_path, "Raw settings block")
      ->required()
      ->check(CLI::ExistingFile);
  settings_set->callback([&] {
    const auto block = ReadSettingsFile(in_path);
    if (!block) throw CLI::ValidationError("FILE", in_path + " is not a 256-byte settings block");
    command = SetSettings{*block, in_path};
  });

  std::uint32_t comm_word = 0;
  auto* comm_state = app.add_subcommand("comm-state", "Give the terminal a new line-setting word");
  comm_state
      ->add_option(
          "WORD", comm_word,
          "Baud code in bits 0-3 (0..4), line field b in bits 4-6, line field c in bits 7-8")
      ->required()
      ->transform(DecimalOrHex());
  comm_state->callback([&] { command = UpdateCommState{comm_word}; });

  std::uint16_t new_id = 0;
  auto* change_id = app.add_subcommand("change-id", "Give the terminal a new ID");
  change_id->add_option("N", new_id, "New terminal ID (0..255)")
      ->required()
      ->transform(DecimalOrHex());
  change_id->callback([&] { command = ChangeTerminalId{new_id}; });

  std::uint8_t mode = 0;
  auto* comm_mode = app.add_subcommand("comm-mode", "Set the terminal's communication mode");
  comm_mode->add_option("N", mode, "Communication mode (0..2)")
      ->required()
      ->transform(DecimalOrHex());
  comm_mode->callback([&] { command = SetCommMode{mode}; });

  std::uint8_t matching_value = 0;
  auto* matching = app.add_subcommand("matching", "Set the terminal's matching-performance value");
  matching->add_option("N", matching_value, "Value passed to the terminal as is (0..255)")
      ->required()
      ->transform(DecimalOrHex());
  matching->callback([&] { command = SetMatching{matching_value}; });

  bool confirmed = false;
  auto* erase = app.add_subcommand("erase", "Erase everything the terminal stores");
  erase->add_flag("--yes", confirmed, "Confirm the erasure");
  erase->callback([&] {
    if (!confirmed) {
      throw CLI::ValidationError(
          "--yes", "erase wipes everything the terminal stores; add --yes to confirm");
    }
    command = EraseAll{};
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return {std::nullopt, status == 0 ? kExitOk : kExitUsage};
  }
  if (*tcp) link.tcp_address = tcp_address;
  if (*serial) link.serial_port = serial_port;
  return {Invocation{link, *command}, kExitOk};
}

}  // namespace pq640admin
