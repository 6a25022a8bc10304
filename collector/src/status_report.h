// `status`: per terminal the last successful sync, records held, lag, clock
// drift, what needs attention and the last error in words.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "store.h"

namespace pq640collect {

// What needs an operator's attention: "failing", "overdue" (no success for
// its `every` plus a grace of the same, at least a minute, past when it was
// due), "drift" (beyond max_drift), "clock" (a clock jump was seen).
std::vector<std::string> Attention(const TerminalStatus& row, std::int64_t now);
// True when any terminal is failing or overdue: status exits non-zero.
bool AnyFailingOrOverdue(const std::vector<TerminalStatus>& rows, std::int64_t now);

// Lag is the time since the last successful sync, in seconds (none before
// the first one).
void PrintStatusTable(const std::vector<TerminalStatus>& rows, std::int64_t now, std::ostream& out);
void PrintStatusJson(const std::vector<TerminalStatus>& rows, std::int64_t now, std::ostream& out);

}  // namespace pq640collect
