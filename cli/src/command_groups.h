// The subcommands of pq640-admin, one group per file. Each group registers
// its subcommands; a subcommand's callback checks every input (so that bad
// input exits 2 before anything is sent) and sets the context's action.
//
// Option values are bound to storage the callbacks own (shared_ptr), because
// the actions run after the registering functions have returned.
#pragma once

#include <pq640/pq640.h>

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "admin_context.h"
#include "record_json.h"
#include "usage_messages.h"

namespace pq640admin {

void AddControlCommands(CLI::App& app, AdminContext& context);
void AddEnrolmentCommands(CLI::App& app, AdminContext& context);
void AddLogCommands(CLI::App& app, AdminContext& context);
void AddBackupCommands(CLI::App& app, AdminContext& context);

// An input refused before anything is sent: what, and the rule it breaks
// (never the library's generic text for the code it would give). Exits 2.
[[noreturn]] void RefuseInput(const std::string& what, const std::string& why);
// An input file that cannot be used (read error with the OS's reason, bad
// JSON, a bad record). Exits 2 through CLI11.
[[noreturn]] void RefuseFile(const std::string& path, const std::string& why);

// Reads and parses a JSON file ("-" is standard input), refusing it on error.
Json ReadJsonFile(const std::string& path);

// What a command did or read, on stdout: the text, or with --json the object.
void Say(const std::string& text, const Json& object);

// Records on stdout in the chosen format.
void PrintRows(const AdminContext& context, const std::vector<std::string>& columns,
               const Json& rows);

}  // namespace pq640admin
