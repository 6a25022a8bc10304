// pq640-collect as a child process, for the tests that run the program
// itself: kill it at any moment, stop it with SIGTERM, read what it printed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pq640collect::testing {

class CollectorProcess {
 public:
  // Starts PQ640_COLLECT_PATH with these arguments; output goes to `log`.
  CollectorProcess(const std::vector<std::string>& arguments, const std::string& log);
  ~CollectorProcess();  // kills a child still running
  CollectorProcess(const CollectorProcess&) = delete;
  CollectorProcess& operator=(const CollectorProcess&) = delete;

  void Signal(int signal);
  // The exit status, or -signal; nothing when it has not ended in time.
  std::optional<int> Wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Runs to the end (bounded) and returns the exit status and the output.
struct Finished {
  int status = -1;
  std::string output;
};
Finished RunCollector(const std::vector<std::string>& arguments, const std::string& scratch,
                      std::chrono::seconds timeout = std::chrono::seconds(120));

std::string ReadFile(const std::string& path);

// One line of --claim-log: a terminal held by one process from start to end.
struct ClaimSpan {
  std::string terminal;
  std::int64_t start = 0;
  std::int64_t end = 0;
  long pid = 0;
};
std::vector<ClaimSpan> ReadClaims(const std::string& path);
// Fails the test when a terminal was held by two processes at once.
void ExpectNoOverlap(std::vector<ClaimSpan> spans);

}  // namespace pq640collect::testing
