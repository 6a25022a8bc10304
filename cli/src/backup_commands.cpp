// backup, restore and copy-users.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>

#include "backup_document.h"
#include "command_groups.h"
#include "failure_report.h"
#include "file_io.h"
#include "link_session.h"
#include "log_query.h"
#include "log_restore.h"
#include "terminal_transfer.h"
#include "text_format.h"

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

// What a restore or a copy writes, kind by kind, in the order written:
// users (bulk), administrators (one by one), the logs, the settings block
// last. A refusal counts against its record only; a failure of the link
// stops the run and the rest is counted as skipped.
struct WritePlan {
  const std::vector<PQ640_UserData>* users = nullptr;
  const std::vector<PQ640_AdminData>* admins = nullptr;
  std::vector<PQ640_IORecord> io_records;
  std::vector<PQ640_AdminRecord> admin_records;
  bool logs = false;
  const PQ640_SystemData* settings = nullptr;
};

int WriteAll(const WritePlan& plan, std::size_t io_there, std::size_t admin_log_there) {
  Tally users{"users", "enrolled"};
  Tally admins{"administrators", "enrolled"};
  Tally io{"IO records", "added"};
  Tally admin_log{"administrator log records", "added"};
  Tally settings{"settings block", "written"};
  io.skipped = io_there;
  admin_log.skipped = admin_log_there;
  io.skipped_reason = admin_log.skipped_reason = "already on the terminal";
  int status = kExitOk;
  const auto step = [&status](auto write, Tally& tally, std::size_t count) {
    if (status != kExitOk) {
      tally.skipped += count;
      tally.skipped_reason = "not tried after the failure";
      return;
    }
    status = write(tally);
  };
  step([&](Tally& t) { return AddUsers(*plan.users, t); }, users, plan.users->size());
  step([&](Tally& t) { return AddAdmins(*plan.admins, t); }, admins, plan.admins->size());
  if (plan.logs) {
    step([&](Tally& t) { return AddIoRecords(plan.io_records, t); }, io, plan.io_records.size());
    step([&](Tally& t) { return AddAdminRecords(plan.admin_records, t); }, admin_log, plan.admin_records.size());
  }
  std::vector<const Tally*> shown{&users, &admins};
  if (plan.logs) {
    shown.push_back(&io);
    shown.push_back(&admin_log);
  }
  if (plan.settings != nullptr) {
    step(
        [&](Tally& t) {
          return CountResult(PQ640_SetSystemData(plan.settings), t, 1, "the settings block",
                             "writing the settings block");
        },
        settings, 1);
    shown.push_back(&settings);
  }
  return Summarise(shown, status);
}

// The IDs of `records` the terminal already holds (read as ID listings).
template <typename Record>
std::vector<std::uint32_t> HeldIds(const std::vector<Record>& records, const std::vector<std::uint32_t>& held) {
  std::vector<std::uint32_t> sorted = held;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::uint32_t> both;
  for (const Record& record : records) {
    if (std::binary_search(sorted.begin(), sorted.end(), record.id)) both.push_back(record.id);
  }
  return both;
}

std::string IdList(const std::vector<std::uint32_t>& ids) {
  std::string text;
  for (std::size_t i = 0; i < ids.size() && i < 10; ++i) text += (i ? ", " : "") + std::to_string(ids[i]);
  if (ids.size() > 10) text += ", ...";
  return text;
}

// Refuses (exit 2, nothing written) when the terminal holds any of the IDs
// about to be replaced and the user did not say --yes; 0 to go ahead.
int CheckOverwrite(const std::vector<PQ640_UserData>& users, const std::vector<PQ640_AdminData>& admins,
                   const std::string& command) {
  std::vector<std::uint32_t> held_users;
  std::vector<std::uint32_t> held_admins;
  if (int status = ReadIds(false, held_users); status != kExitOk) return status;
  if (int status = ReadIds(true, held_admins); status != kExitOk) return status;
  const auto users_there = HeldIds(users, held_users);
  const auto admins_there = HeldIds(admins, held_admins);
  if (users_there.empty() && admins_there.empty()) return kExitOk;
  std::string which;
  if (!users_there.empty()) which += CountOf(users_there.size(), "user", "users") + " (" + IdList(users_there) + ")";
  if (!admins_there.empty()) {
    which += std::string(which.empty() ? "" : " and ") + CountOf(admins_there.size(), "administrator", "administrators") +
             " (" + IdList(admins_there) + ")";
  }
  return Refuse("the terminal at " + ReportedLinkText() + " already holds " + which + " that " + command +
                " would replace. Add --yes to go ahead; nothing was changed");
}


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
        Say("saved " + CountOf(saved.users.size(), "user", "users") + ", " +
                CountOf(saved.admins.size(), "administrator", "administrators") + ", " +
                CountOf(saved.io_records.size(), "IO record", "IO records") + ", " +
                CountOf(saved.admin_records.size(), "administrator log record", "administrator log records") +
                ", the settings block and the clock to " + path,
            {{"saved_to", path},
             {"users", saved.users.size()},
             {"administrators", saved.admins.size()},
             {"IO records", saved.io_records.size()},
             {"administrator log records", saved.admin_records.size()}});
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
    bool dry_run = false;
  };
  auto options = std::make_shared<Options>();
  auto* restore = app.add_subcommand(
      "restore", "Put the users, administrators and settings (and with --logs the logs) of a backup onto the terminal");
  restore->add_option("FILE", options->path, "Backup file (- for stdin)")->required();
  restore->add_flag("--yes", options->yes,
                    "Go ahead although the terminal holds users or administrators with the backup's IDs");
  restore->add_flag("--logs", options->logs,
                    "Add the records of both logs the terminal does not hold yet (one command per record: "
                    "slow over TCP)");
  restore->add_flag("--dry-run", options->dry_run, "Say what would be written; write nothing");
  restore->callback([&context, options] {
    const std::string path = options->path;
    const Json document = ReadJsonFile(path);
    Backup saved;
    try {
      saved = BackupFromJson(document);
    } catch (const RecordError& error) {
      RefuseInput("backup " + path, error.what());
    }
    if (const std::string broken = BrokenRuleText(saved.settings); !broken.empty()) {
      RefuseInput("the settings block of " + path, broken);
    }
    const bool yes = options->yes;
    const bool logs = options->logs;
    const bool dry_run = options->dry_run;
    context.action = [saved, yes, logs, dry_run] {
      // Everything is checked and read before the first write.
      if (!yes && !dry_run) {
        if (int status = CheckOverwrite(saved.users, saved.admins, "restore"); status != kExitOk) return status;
      }
      WritePlan plan;
      plan.users = &saved.users;
      plan.admins = &saved.admins;
      plan.settings = &saved.settings;
      plan.logs = logs;
      if (logs) {
        // Only what the terminal does not hold yet: a second run, or one
        // after an interruption, adds exactly the missing records.
        std::vector<PQ640_IORecord> io_there;
        std::vector<PQ640_AdminRecord> admin_there;
        if (!saved.io_records.empty()) {
          if (int status = ReadIoRecords(RangeQueryOf(saved.io_records), io_there); status != kExitOk) return status;
        }
        if (!saved.admin_records.empty()) {
          if (int status = ReadAdminRecords(BuildQuery(LogFilter{}), admin_there); status != kExitOk) return status;
        }
        plan.io_records = MissingRecords(saved.io_records, io_there);
        plan.admin_records = MissingRecords(saved.admin_records, admin_there);
      }
      const std::size_t io_there = saved.io_records.size() - plan.io_records.size();
      const std::size_t admin_there = saved.admin_records.size() - plan.admin_records.size();
      if (dry_run) {
        std::string text = "would enrol " + CountOf(saved.users.size(), "user", "users") + " and " +
                           CountOf(saved.admins.size(), "administrator", "administrators");
        Json object{{"users", saved.users.size()}, {"administrators", saved.admins.size()}};
        if (logs) {
          text += ", add " + CountOf(plan.io_records.size(), "IO record", "IO records") + " (" +
                  std::to_string(io_there) + " already there) and " +
                  CountOf(plan.admin_records.size(), "administrator log record", "administrator log records") + " (" +
                  std::to_string(admin_there) + " already there)";
          object["IO records"] = plan.io_records.size();
          object["administrator log records"] = plan.admin_records.size();
        }
        Say(text + ", and write the settings block; nothing was changed", object);
        return int{kExitOk};
      }
      if (logs) {
        const std::size_t commands = plan.io_records.size() + plan.admin_records.size();
        Note("--logs: " + CountOf(commands, "log record", "log records") + " to add (" +
             std::to_string(io_there + admin_there) + " already there), one command each; about " +
             std::to_string(std::lround(static_cast<double>(commands) * kSecondsPerCommand)) + " s over TCP");
      }
      return WriteAll(plan, io_there, admin_there);
    };
  });
}

void AddCopyUsers(CLI::App& app, AdminContext& context) {
  struct Options {
    std::string target;
    std::uint32_t target_id = 0;
    bool yes = false;
  };
  auto options = std::make_shared<Options>();
  auto* copy = app.add_subcommand(
      "copy-users", "Copy the users and administrators of this terminal onto another one");
  copy->add_option("--to", options->target, "The other terminal: an IPv4 address or COM1..COM10")
      ->required();
  copy->add_option("--to-id", options->target_id, "The other terminal's ID (default 0)")
      ->transform(NumberIn(0, 255, "terminal IDs"));
  copy->add_flag("--yes", options->yes, "Go ahead although the other terminal holds some of these IDs");
  copy->callback([&context, options] {
    const LinkOptions target = LinkTo(options->target, 0, context.link);
    if (target.tcp_address) {
      if (const auto problem = AddressProblem(*target.tcp_address)) {
        RefuseInput("--to " + options->target, *problem + ", or COM1..COM10");
      }
    } else if (*target.serial_port < 1 || *target.serial_port > 10) {
      RefuseInput("--to " + options->target, "serial ports are COM1..COM10");
    }
    LinkOptions to = target;
    to.terminal_id = static_cast<std::uint16_t>(options->target_id);
    const bool yes = options->yes;
    context.action = [to, yes] {
      // One connection per process: read everything, then switch the link.
      Backup enrolments;
      if (int status = ReadEnrolments(enrolments); status != kExitOk) return status;
      if (int status = CloseLink(); status != kExitOk) return status;
      if (int status = OpenLink(to); status != kExitOk) return status;
      if (!yes) {
        if (int status = CheckOverwrite(enrolments.users, enrolments.admins, "copy-users"); status != kExitOk) {
          return status;
        }
      }
      WritePlan plan;
      plan.users = &enrolments.users;
      plan.admins = &enrolments.admins;
      return WriteAll(plan, 0, 0);
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
