// The collector's log lines: one line each, with a time and a level unless
// systemd's journal (which adds its own) reads them.
#pragma once

#include <string>

namespace pq640collect {

enum class LogLevel { kInfo, kNotice, kError };

// Info and notices go to stdout, errors to stderr.
void LogLine(LogLevel level, const std::string& text);

}  // namespace pq640collect
