#include "paired_runs.h"

#include <algorithm>

namespace pq640bench {

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::optional<PairedResult> RunPaired(const Side& a, const Side& b, int runs, std::string* error) {
  // The warm-up's allocations count too: a lazy first-call allocation is one.
  const std::optional<Sample> warm_up = a(error);
  if (!warm_up || !b(error)) return std::nullopt;
  std::vector<double> times_a;
  std::vector<double> times_b;
  std::vector<double> cpu_a;
  std::vector<double> cpu_b;
  PairedResult result;
  result.max_allocations = warm_up->allocations;
  for (int run = 0; run < runs; ++run) {
    // Always a then b: each side then follows the other, and never itself.
    const std::optional<Sample> sample_a = a(error);
    const std::optional<Sample> sample_b = sample_a ? b(error) : std::nullopt;
    if (!sample_a || !sample_b) return std::nullopt;
    times_a.push_back(sample_a->seconds);
    times_b.push_back(sample_b->seconds);
    cpu_a.push_back(sample_a->cpu_seconds);
    cpu_b.push_back(sample_b->cpu_seconds);
    result.ratios.push_back(sample_a->seconds / sample_b->seconds);
    result.max_allocations = std::max(result.max_allocations, sample_a->allocations);
  }
  result.median_a = Median(times_a);
  result.median_b = Median(times_b);
  result.median_ratio = Median(result.ratios);
  result.median_cpu_a = Median(cpu_a);
  result.median_cpu_b = Median(cpu_b);
  return result;
}

}  // namespace pq640bench
