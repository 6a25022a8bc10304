// The command line of pq640-admin: global options (link, output format,
// --quiet), then one subcommand; parses, checks inputs, runs the action.
#pragma once

namespace pq640admin {

// Returns the process exit status. Help and --version exit 0, usage errors 2.
int RunAdmin(int argc, char** argv);

}  // namespace pq640admin
