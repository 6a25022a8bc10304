// The command line of pq640-admin: global link options, then one subcommand
// per library function.
#pragma once

#include <optional>

#include "admin_request.h"

namespace pq640admin {

struct ParseOutcome {
  std::optional<Invocation> invocation;  // nothing: exit with exit_status
  int exit_status = kExitOk;
};

// Prints help and usage errors itself (help exits 0, errors kExitUsage).
ParseOutcome ParseCommandLine(int argc, char** argv);

}  // namespace pq640admin
