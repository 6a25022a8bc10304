// Runs one invocation against the terminal: selects the link, opens the port,
// optionally wakes the terminal, runs the command and closes the port.
#pragma once

#include "admin_request.h"

namespace pq640admin {

// Prints the result for humans on stdout and failures on stderr; returns the
// process exit status.
int RunInvocation(const Invocation& invocation);

}  // namespace pq640admin
