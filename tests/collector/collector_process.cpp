#include "collector_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace pq640collect::testing {

CollectorProcess::CollectorProcess(const std::vector<std::string>& arguments, const std::string& log) {
  std::vector<std::string> argv_storage{PQ640_COLLECT_PATH};
  argv_storage.insert(argv_storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : argv_storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
}

CollectorProcess::~CollectorProcess() {
  if (!status_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void CollectorProcess::Signal(int signal) {
  if (!status_) kill(pid_, signal);
}

std::optional<int> CollectorProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_) {
    int raw = 0;
    const pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status_;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

Finished RunCollector(const std::vector<std::string>& arguments, const std::string& scratch,
                      std::chrono::seconds timeout) {
  static int serial = 0;
  const std::string log = scratch + "/run-" + std::to_string(++serial) + ".log";
  CollectorProcess process(arguments, log);
  Finished finished;
  finished.status = process.Wait(timeout).value_or(-1000);
  finished.output = ReadFile(log);
  return finished;
}

std::vector<ClaimSpan> ReadClaims(const std::string& path) {
  std::vector<ClaimSpan> spans;
  std::istringstream lines(ReadFile(path));
  ClaimSpan span;
  while (lines >> span.terminal >> span.start >> span.end >> span.pid) spans.push_back(span);
  return spans;
}

void ExpectNoOverlap(std::vector<ClaimSpan> spans) {
  std::sort(spans.begin(), spans.end(),
            [](const ClaimSpan& a, const ClaimSpan& b) { return std::tie(a.terminal, a.start) < std::tie(b.terminal, b.start); });
  for (std::size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].terminal != spans[i - 1].terminal) continue;
    EXPECT_GE(spans[i].start, spans[i - 1].end) << spans[i].terminal << " was held twice at once";
  }
}

}  // namespace pq640collect::testing
