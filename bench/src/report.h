// The benchmark's output: Markdown tables that can be pasted as they stand.
#pragma once

#include <string>
#include <vector>

#include "paired_runs.h"

namespace pq640bench {

struct Row {
  std::string scenario;
  PairedResult result;
  std::string target;  // e.g. "≤ 1.05×"
  bool met = false;
};

void PrintTable(const std::string& a_header, const std::string& b_header, const std::vector<Row>& rows);

std::string Milliseconds(double seconds);
std::string Ratio(double ratio);
std::string Verdict(bool met);

}  // namespace pq640bench
