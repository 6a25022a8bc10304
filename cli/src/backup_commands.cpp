// backup, restore and copy-users.
#include <arpa/inet.h>

#include <cmath>
#include <iostream>
#include <memory>

#include "backup_document.h"
#include "command_groups.h"
#include "failure_report.h"
#include "file_io.h"
#include "link_session.h"
#include "log_query.h"
#include "terminal_transfer.h"

namespace pq640admin {
namespace {

int ReadEnrolments(Backup& backup) {
  if (int status = ReadUsers(backup.users); status != kExitOk) return status;
  return ReadAdmins(backup.admins);
}

int ReadBackup(Backup& backup) {
  if (auto r = PQ640_GetDateTime(&backup.clock); r != PQ640_OK) return Fail("reading the clock", r);
  if (auto r = PQ640_GetSystemData(&backup.settings); r != PQ640_OK) {
    return Fail("reading the settings block", r);
  }
  if (int status = ReadEnrolments(backup); status != kExitOk) return status;
  const PQ640_RecordQuery all = BuildQuery(LogFilter{});
  if (int status = ReadIoRecords(all, backup.io_records); status != kExitOk) return status;
  return ReadAdminRecords(all, backup.admin_records);
}

// Users through the bulk add, administrators one by one (the library has no
// bulk add for them). An empty list sends nothing.
int WriteEnrolments(const Backup& backup) {
  int status = backup.users.empty() ? int{kExitOk} : AddUsers(backup.users);
  if (status != kExitOk && status != kExitFailed) return status;
  if (!backup.admins.empty()) {
    if (int admins = AddAdmins(backup.admins); admins != kExitOk) status = admins;
  }
  return status;
}

std::string Counted(std::size_t n, const char* what) { return std::to_string(n) + " " + what; }

void AddBackup(CLI::App& app, AdminContext& context) {
  struct Options {
    std::string path;
    bool force = false;
  };
  auto options = std::make_shared<Options>();
  auto* backup = app.add_subcommand(
      "backup", "Save users, administrators, settings, clock and both logs to a JSON file");
  backup->add_option("FILE", options->path, "Backup file (- for stdout)")->required();
  backup->add_flag("--force", options->force, "Overwrite FILE if it exists");
  backup->callback([&context, options] {
    const std::string path = options->path;
    if (auto problem = OutputPathProblem(path, options->force)) throw CLI::ValidationError(*problem);
    context.action = [path] {
      Backup saved;
      if (int status = ReadBackup(saved); status != kExitOk) return status;
      if (auto error = WriteOutput(path, BackupToJson(saved).dump(1) + "\n")) return FailWith(*error);
      if (path != "-") {
        std::cout << "saved " << Counted(saved.users.size(), "users") << ", "
                  << Counted(saved.admins.size(), "administrators") << ", "
                  << Counted(saved.io_records.size(), "IO records") << ", "
                  << Counted(saved.admin_records.size(), "administrator log records")
                  << ", the settings block and the clock to " << path << "\n";
      }
      return int{kExitOk};
    };
  });
}

void AddRestore(CLI::App& app, AdminContext& context) {
  struct Options {
    std::string path;
    bool yes = false;
    bool logs = false;
  };
  auto options = std::make_shared<Options>();
  auto* restore = app.add_subcommand(
      "restore", "Put the users, administrators and settings of a backup onto the terminal");
  restore->add_option("FILE", options->path, "Backup file (- for stdin)")->required();
  restore->add_flag("--yes", options->yes,
                    "Go ahead although the terminal already holds enrolments");
  restore->add_flag("--logs", options->logs,
                    "Add both logs too (one command per record: slow over TCP)");
  restore->callback([&context, options] {
    const std::string path = options->path;
    const Json document = ReadJsonFile(path);
    Backup saved;
    try {
      saved = BackupFromJson(document);
    } catch (const RecordError& error) {
      RefuseInput("backup " + path, PQ640_OUT_OF_RANGE, error.what());
    }
    if (const std::string broken = BrokenRuleText(saved.settings); !broken.empty()) {
      RefuseInput("the settings block of " + path, PQ640_OUT_OF_RANGE, broken);
    }
    const bool yes = options->yes;
    const bool logs = options->logs;
    context.action = [saved, yes, logs] {
      if (!yes) {
        std::uint32_t users = 0;
        std::uint32_t admins = 0;
        if (auto r = PQ640_GetAllUserDataBounded(0, &users, nullptr, PQ640_LIST_COUNT, nullptr); r != PQ640_OK) {
          return Fail("counting the users", r);
        }
        if (auto r = PQ640_GetAllAdminDataBounded(0, &admins, nullptr, PQ640_LIST_COUNT, nullptr); r != PQ640_OK) {
          return Fail("counting the administrators", r);
        }
        if (users + admins > 0) {
          return Refuse("the terminal already holds " + Counted(users, "users") + " and " +
                        Counted(admins, "administrators") +
                        "; restore replaces those with the same IDs and overwrites the settings "
                        "block. Add --yes to go ahead; nothing was changed");
        }
      }
      if (logs) {
        const std::size_t commands = saved.io_records.size() + saved.admin_records.size();
        Note("--logs: " + std::to_string(commands) + " log records, one command each; about " +
             std::to_string(std::lround(static_cast<double>(commands) * kSecondsPerCommand)) +
             " s over TCP");
      }
      int status = WriteEnrolments(saved);
      if (status != kExitOk && status != kExitFailed) return status;
      if (auto r = PQ640_SetSystemData(&saved.settings); r != PQ640_OK) {
        return Fail("writing the settings block", r);
      }
      if (logs) {
        if (int io = AddIoRecords(saved.io_records); io != kExitOk) return io;
        if (int admin = AddAdminRecords(saved.admin_records); admin != kExitOk) return admin;
      }
      std::cout << "restored " << Counted(saved.users.size(), "users") << ", "
                << Counted(saved.admins.size(), "administrators") << " and the settings block";
      if (logs) {
        std::cout << ", " << Counted(saved.io_records.size(), "IO records") << " and "
                  << Counted(saved.admin_records.size(), "administrator log records");
      }
      std::cout << "\n";
      return status;
    };
  });
}

void AddCopyUsers(CLI::App& app, AdminContext& context) {
  struct Options {
    std::string target;
    std::uint32_t target_id = 0;
  };
  auto options = std::make_shared<Options>();
  auto* copy = app.add_subcommand(
      "copy-users", "Copy the users and administrators of this terminal onto another one");
  copy->add_option("--to", options->target, "The other terminal: an IPv4 address or COM1..COM10")
      ->required();
  copy->add_option("--to-id", options->target_id, "The other terminal's ID (default 0)")
      ->transform(DecimalOrHex());
  copy->callback([&context, options] {
    const LinkOptions target = LinkTo(options->target, 0, context.link);
    if (target.tcp_address) {
      in_addr parsed{};
      if (inet_pton(AF_INET, target.tcp_address->c_str(), &parsed) != 1) {
        RefuseInput("--to " + options->target, PQ640_INVALID_ARGUMENT,
                    "expected a dotted IPv4 address or COM1..COM10");
      }
    } else if (*target.serial_port < 1 || *target.serial_port > 10) {
      RefuseInput("--to " + options->target, PQ640_PORT_REFUSED, "serial ports are COM1..COM10");
    }
    if (options->target_id > 255) {
      RefuseInput("--to-id " + std::to_string(options->target_id), PQ640_OUT_OF_RANGE,
                  "terminal IDs are 0..255");
    }
    LinkOptions to = target;
    to.terminal_id = static_cast<std::uint16_t>(options->target_id);
    context.action = [to] {
      // One connection per process: read everything, then switch the link.
      Backup enrolments;
      if (int status = ReadEnrolments(enrolments); status != kExitOk) return status;
      if (int status = CloseLink(); status != kExitOk) return status;
      if (int status = OpenLink(to); status != kExitOk) return status;
      const int status = WriteEnrolments(enrolments);
      if (status == kExitOk) {
        std::cout << "copied " << Counted(enrolments.users.size(), "users") << " and "
                  << Counted(enrolments.admins.size(), "administrators") << "\n";
      }
      return status;
    };
  });
}

}  // namespace

void AddBackupCommands(CLI::App& app, AdminContext& context) {
  AddBackup(app, context);
  AddRestore(app, context);
  AddCopyUsers(app, context);
}

}  // namespace pq640admin
