// `status`: per terminal the last successful sync, records held, lag, clock
// drift and the last error in words.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "store.h"

namespace pq640collect {

// Lag is the time since the last successful sync, in seconds (none before
// the first one).
void PrintStatusTable(const std::vector<TerminalStatus>& rows, std::int64_t now, std::ostream& out);
void PrintStatusJson(const std::vector<TerminalStatus>& rows, std::int64_t now, std::ostream& out);

}  // namespace pq640collect
