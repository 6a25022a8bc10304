// Wall time and the calling thread's CPU time of one timed call: the CPU time
// tells whether a gap in wall time is work done by the caller or waiting.
#pragma once

#include <time.h>

#include <chrono>

namespace pq640bench {

struct Elapsed {
  double wall_seconds = 0;
  double cpu_seconds = 0;
};

class Stopwatch {
 public:
  Stopwatch() : wall_start_(std::chrono::steady_clock::now()), cpu_start_(ThreadCpuSeconds()) {}

  Elapsed Read() const {
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start_).count(),
            ThreadCpuSeconds() - cpu_start_};
  }

 private:
  static double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  }

  std::chrono::steady_clock::time_point wall_start_;
  double cpu_start_;
};

}  // namespace pq640bench
