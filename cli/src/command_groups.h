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

namespace pq640admin {

void AddControlCommands(CLI::App& app, AdminContext& context);
void AddEnrolmentCommands(CLI::App& app, AdminContext& context);
void AddLogCommands(CLI::App& app, AdminContext& context);
void AddBackupCommands(CLI::App& app, AdminContext& context);

// Numbers are decimal or 0x-prefixed hex; leading zeros of a decimal do not
// make it octal.
CLI::Validator DecimalOrHex();

// An input refused before anything is sent: the result code the library
// would give it, its meaning, and what is wrong. Exits 2 through CLI11.
[[noreturn]] void RefuseInput(const std::string& what, PQ640_ResultCode code,
                              const std::string& why);
// An input file that cannot be used (read error with the OS's reason, bad
// JSON, a bad record). Exits 2 through CLI11.
[[noreturn]] void RefuseFile(const std::string& path, const std::string& why);

// Reads and parses a JSON file ("-" is standard input), refusing it on error.
Json ReadJsonFile(const std::string& path);

// Records on stdout in the chosen format.
void PrintRows(const AdminContext& context, const std::vector<std::string>& columns,
               const Json& rows);

}  // namespace pq640admin
