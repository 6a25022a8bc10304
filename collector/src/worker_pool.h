// `run`: prepares the database, then runs the worker loop in this process or
// in N worker processes (the library holds one link per process, so
// parallel terminals need processes, not threads).
#pragma once

#include <optional>
#include <string>

#include "config_file.h"

namespace pq640collect {

struct RunOptions {
  bool once = false;
  int workers = 1;
  std::optional<std::string> claim_log;
};

// The exit status: 0, 1 when a --once cycle failed or a worker could not
// start.
int RunCollector(const CollectorConfig& config, const RunOptions& options);

}  // namespace pq640collect
