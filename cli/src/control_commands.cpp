// check, time, settings, comm-state, change-id, comm-mode, matching, erase.
#include <chrono>
#include <ctime>
#include <iostream>
#include <memory>

#include "command_groups.h"
#include "failure_report.h"
#include "file_io.h"
#include "settings_file.h"
#include "text_format.h"

namespace pq640admin {
namespace {

int SetClockTo(const PQ640_DateTime& value) {
  if (auto r = PQ640_SetDateTime(&value); r != PQ640_OK) {
    return Fail("setting the clock to " + FormatDateTime(value), r);
  }
  Say("clock set to " + FormatDateTime(value), {{"clock_set_to", FormatDateTime(value)}});
  return kExitOk;
}

void AddClock(CLI::App& app, AdminContext& context) {
  auto* time = app.add_subcommand("time", "The terminal's clock");
  time->require_subcommand(1);
  time->add_subcommand("get", "Print the terminal's clock")->callback([&context] {
    context.action = [] {
      PQ640_DateTime now{};
      if (auto r = PQ640_GetDateTime(&now); r != PQ640_OK) return Fail("reading the clock", r);
      Say(FormatDateTime(now), {{"clock", FormatDateTime(now)}});
      return int{kExitOk};
    };
  });
  auto text = std::make_shared<std::string>();
  auto* set = time->add_subcommand("set", "Set the terminal's clock");
  set->add_option("DATETIME", *text,
                  "\"YYYY-MM-DD hh:mm:ss\" (2000..2099); \"YY-MM-DD hh:mm:ss\" is accepted too")
      ->required();
  set->callback([&context, text] {
    if (const std::string problem = DateTimeProblem(*text, false); !problem.empty()) {
      RefuseInput("time set " + *text, problem);
    }
    const auto value = ParseDateTime(*text);
    context.action = [value = *value] { return SetClockTo(value); };
  });
  time->add_subcommand("sync", "Set the terminal's clock to the host's local time")
      ->callback([&context] {
        context.action = [] {
          const std::time_t now =
              std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
          std::tm local{};
          const auto value = localtime_r(&now, &local) ? DateTimeFromTm(local) : std::nullopt;
          if (!value) return FailWith("the host's local time is outside 2000..2099");
          return SetClockTo(*value);
        };
      });
}

void AddSettings(CLI::App& app, AdminContext& context) {
  auto* settings = app.add_subcommand("settings", "The terminal's 256-byte settings block");
  settings->require_subcommand(1);
  struct GetOptions {
    std::string out_path;
    bool force = false;
  };
  auto get_options = std::make_shared<GetOptions>();
  auto* get = settings->add_subcommand("get", "Print the block as hex, or save it raw");
  get->add_option("--out", get_options->out_path, "Write the raw 256 bytes to FILE (- for stdout)");
  get->add_flag("--force", get_options->force, "Overwrite FILE if it exists");
  get->callback([&context, get_options] {
    const std::string path = get_options->out_path;
    if (!path.empty()) {
      if (auto problem = OutputPathProblem(path, get_options->force)) throw CLI::ValidationError(*problem);
    }
    context.action = [path] {
      PQ640_SystemData block{};
      if (auto r = PQ640_GetSystemData(&block); r != PQ640_OK) {
        if (r == PQ640_INVALID_ARGUMENT) Note("the block read breaks a rule: " + BrokenRuleText(block));
        return Fail("reading the settings block", r);
      }
      if (path.empty()) {
        std::string lines = FormatHexLines(block.bytes);
        lines.pop_back();  // Say ends the line
        const std::vector<std::uint8_t> bytes(std::begin(block.bytes), std::end(block.bytes));
        Say(lines, {{"settings_hex", HexDigits(bytes)}});
        return int{kExitOk};
      }
      if (auto error = WriteOutput(path, SettingsFileText(block))) return FailWith(*error);
      if (path != "-") Say("settings block saved to " + path, {{"saved_to", path}});
      return int{kExitOk};
    };
  });
  auto in_path = std::make_shared<std::string>();
  auto* set = settings->add_subcommand("set", "Write the block from a raw 256-byte file");
  set->add_option("FILE", *in_path, "Raw settings block, as saved by settings get --out")->required();
  set->callback([&context, in_path] {
    const std::string path = *in_path;
    ReadResult read = ReadInput(path);
    if (read.error) throw CLI::ValidationError(*read.error);
    const auto block = SettingsFromText(read.content);
    if (!block) {
      RefuseFile(path, "is " + std::to_string(read.content.size()) +
                           " bytes long, not a 256-byte settings block");
    }
    if (const std::string broken = BrokenRuleText(*block); !broken.empty()) {
      RefuseInput("settings block " + path, broken);
    }
    context.action = [path, block = *block] {
      if (auto r = PQ640_SetSystemData(&block); r != PQ640_OK) {
        return Fail("writing the settings block from " + path, r);
      }
      Say("settings block written from " + path, {{"written_from", path}});
      return int{kExitOk};
    };
  });
}

void AddLineCommands(CLI::App& app, AdminContext& context) {
  auto word = std::make_shared<std::uint32_t>(0);
  auto* comm_state = app.add_subcommand("comm-state", "Give the terminal a new line-setting word");
  comm_state
      ->add_option("WORD", *word,
                   "Baud code in bits 0-3 (0..4), line field b in bits 4-6 (0..4), line field c "
                   "in bits 7-8 (0..1)")
      ->required()
      ->transform(DecimalOrHex());
  comm_state->callback([&context, word] {
    const std::uint32_t value = *word;
    if ((value & 0xF) > 4 || ((value >> 4) & 0x7) > 4 || ((value >> 7) & 0x3) > 1) {
      RefuseInput("comm-state " + std::to_string(value),
                  "the baud code must be 0..4, line field b 0..4 and line field c 0..1");
    }
    context.action = [value] {
      if (auto r = PQ640_UpdateCommState(value); r != PQ640_OK) {
        return Fail("changing the line-setting word to " + std::to_string(value), r);
      }
      Say("line-setting word set to " + std::to_string(value), {{"comm_state", value}});
      return int{kExitOk};
    };
  });

  auto new_id = std::make_shared<std::uint32_t>(0);
  auto* change_id = app.add_subcommand("change-id", "Give the terminal a new ID");
  change_id->add_option("N", *new_id, "New terminal ID (0..255)")->required()->transform(NumberIn(0, 255, "terminal IDs"));
  change_id->callback([&context, new_id] {
    const std::uint32_t id = *new_id;
    context.action = [id] {
      if (auto r = PQ640_ChangeTerminalID(static_cast<std::uint16_t>(id)); r != PQ640_OK) {
        return Fail("changing the terminal ID to " + std::to_string(id), r);
      }
      Say("terminal ID changed to " + std::to_string(id) + "; use --id " + std::to_string(id) + " from now on",
          {{"terminal_id", id}});
      return int{kExitOk};
    };
  });

  auto mode = std::make_shared<std::uint32_t>(0);
  auto* comm_mode = app.add_subcommand("comm-mode", "Set the terminal's communication mode");
  comm_mode->add_option("N", *mode, "Communication mode (0..2)")->required()->transform(NumberIn(0, 2, "communication modes"));
  comm_mode->callback([&context, mode] {
    const std::uint32_t value = *mode;
    context.action = [value] {
      if (auto r = PQ640_SetTermCommMode(static_cast<std::uint8_t>(value)); r != PQ640_OK) {
        return Fail("setting communication mode " + std::to_string(value), r);
      }
      Say("communication mode set to " + std::to_string(value), {{"comm_mode", value}});
      return int{kExitOk};
    };
  });

  auto matching_value = std::make_shared<std::uint8_t>(0);
  auto* matching = app.add_subcommand("matching", "Set the terminal's matching-performance value");
  matching->add_option("N", *matching_value, "Value passed to the terminal as is (0..255)")
      ->required()
      ->transform(NumberIn(0, 255, "matching values"));
  matching->callback([&context, matching_value] {
    const unsigned value = *matching_value;
    context.action = [value] {
      if (auto r = PQ640_SetMatchingPerform(static_cast<std::uint8_t>(value)); r != PQ640_OK) {
        return Fail("setting matching value " + std::to_string(value), r);
      }
      Say("matching value set to " + std::to_string(value), {{"matching", value}});
      return int{kExitOk};
    };
  });
}

}  // namespace

void AddControlCommands(CLI::App& app, AdminContext& context) {
  app.add_subcommand("check", "Check that the terminal answers")->callback([&context] {
    context.action = [] {
      if (auto r = PQ640_CheckLink(); r != PQ640_OK) return Fail("link check", r);
      Say("the terminal answers", {{"answers", true}});
      return int{kExitOk};
    };
  });
  AddClock(app, context);
  AddSettings(app, context);
  AddLineCommands(app, context);

  auto confirmed = std::make_shared<bool>(false);
  auto* erase = app.add_subcommand("erase", "Erase everything the terminal stores");
  erase->add_flag("--yes", *confirmed, "Confirm the erasure");
  erase->callback([&context, confirmed] {
    if (!*confirmed) {
      throw CLI::ValidationError("erase wipes everything the terminal stores; add --yes to confirm");
    }
    context.action = [] {
      if (auto r = PQ640_DeleteAllDataRom(); r != PQ640_OK) return Fail("erasing the terminal", r);
      Say("terminal erased", {{"erased", true}});
      return int{kExitOk};
    };
  });
}

}  // namespace pq640admin
