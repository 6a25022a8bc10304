#include "report.h"

#include <cstdio>

namespace pq640bench {

std::string Milliseconds(double seconds) {
  char text[32];
  const double ms = seconds * 1000;
  std::snprintf(text, sizeof text, ms < 10 ? "%.3f ms" : "%.1f ms", ms);
  return text;
}

std::string Ratio(double ratio) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f×", ratio);
  return text;
}

std::string Verdict(bool met) { return met ? "met" : "**missed**"; }

void PrintTable(const std::string& a_header, const std::string& b_header, const std::vector<Row>& rows) {
  std::printf("| Scenario | %s | %s | Ratio (median of pairs) | Heap allocations | Target |\n",
              a_header.c_str(), b_header.c_str());
  std::printf("|---|---:|---:|---:|---:|---|\n");
  for (const Row& row : rows) {
    std::printf("| %s | %s | %s | %s | %llu | %s: %s |\n", row.scenario.c_str(),
                Milliseconds(row.result.median_a).c_str(), Milliseconds(row.result.median_b).c_str(),
                Ratio(row.result.median_ratio).c_str(),
                static_cast<unsigned long long>(row.result.max_allocations), row.target.c_str(),
                Verdict(row.met).c_str());
  }
  std::fflush(stdout);
}

}  // namespace pq640bench
