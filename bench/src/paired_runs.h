// Runs two sides of a comparison alternately and summarises them pair by
// pair, so that drift in the machine's speed (other builds, frequency
// changes) falls on both sides of each ratio alike.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pq640bench {

struct Sample {
  double seconds = 0;
  double cpu_seconds = 0;          // of the calling thread
  std::uint64_t allocations = 0;  // inside the library; 0 for the raw side
};

// One timed run; nothing when it failed (the error says why).
using Side = std::function<std::optional<Sample>(std::string* error)>;

struct PairedResult {
  double median_a = 0;
  double median_b = 0;
  double median_ratio = 0;            // median over the runs of a / b
  double median_cpu_a = 0;
  double median_cpu_b = 0;
  std::uint64_t max_allocations = 0;  // most allocations in any run of a
  std::vector<double> ratios;         // per pair, in run order
};

// One untimed warm-up of each side, then `runs` pairs, a then b. Nothing
// when any run fails.
std::optional<PairedResult> RunPaired(const Side& a, const Side& b, int runs, std::string* error);

double Median(std::vector<double> values);

}  // namespace pq640bench
