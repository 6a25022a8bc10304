#include "log_line.h"

#include <cstdlib>
#include <ctime>
#include <iostream>

namespace pq640collect {

void LogLine(LogLevel level, const std::string& text) {
  std::ostream& out = level == LogLevel::kError ? std::cerr : std::cout;
  static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
  std::string line;
  if (!journal) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &tm);
    line = stamp;
    line += level == LogLevel::kError ? "error: " : level == LogLevel::kNotice ? "notice: " : "";
  }
  line += text;
  line += '\n';
  out << line << std::flush;  // one write per line: workers' lines never mix
}

}  // namespace pq640collect
