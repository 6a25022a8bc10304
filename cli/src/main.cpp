// pq640-admin: one library command per run against one terminal.
#include "command_line.h"
#include "command_runner.h"

int main(int argc, char** argv) {
  const pq640admin::ParseOutcome parsed = pq640admin::ParseCommandLine(argc, argv);
  if (!parsed.invocation) return parsed.exit_status;
  return pq640admin::RunInvocation(*parsed.invocation);
}
