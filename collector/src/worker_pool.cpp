#include "worker_pool.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <new>
#include <thread>

#include "schedule.h"
#include "store.h"

namespace pq640collect {
namespace {

extern "C" void RequestStop(int) { g_stop_requested = 1; }
extern "C" void RequestReload(int) { g_reload_requested = 1; }

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // SIGHUP reads the configuration again instead of ending the collector.
  action.sa_handler = RequestReload;
  sigaction(SIGHUP, &action, nullptr);
}

pid_t StartWorker(const CollectorConfig& config, WorkerOptions options) {
  std::cout.flush();
  const pid_t pid = fork();
  if (pid == 0) {
    // A worker never outlives its collector: killed together, they restart
    // together, and no orphan keeps a terminal claimed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1) _exit(1);
    const int status = RunWorker(config, options);
    std::cout.flush();
    _exit(status);
  }
  return pid;
}

// Waits for the workers; in a scheduled run a worker that died is started
// again after a pause, so one crash does not stop a part of the fleet.
int Supervise(const CollectorConfig& config, const RunOptions& run, std::map<pid_t, WorkerOptions> workers) {
  int status = 0;
  bool forwarded = false;
  while (!workers.empty()) {
    if (g_stop_requested != 0 && !forwarded) {
      for (const auto& [pid, options] : workers) kill(pid, SIGTERM);
      forwarded = true;
    }
    if (g_reload_requested != 0) {
      g_reload_requested = 0;
      for (const auto& [pid, options] : workers) kill(pid, SIGHUP);
    }
    int wait_status = 0;
    const pid_t pid = waitpid(-1, &wait_status, WNOHANG);
    if (pid <= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    const auto worker = workers.find(pid);
    if (worker == workers.end()) continue;
    const WorkerOptions options = worker->second;
    workers.erase(worker);
    const bool clean = WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
    if (!clean) status = 1;
    if (!clean && !run.once && g_stop_requested == 0) {
      std::cerr << "pq640-collect: worker " << options.index << " ended unexpectedly; starting it again" << std::endl;
      std::this_thread::sleep_for(std::chrono::seconds(1));
      const pid_t again = StartWorker(config, options);
      if (again > 0) workers[again] = options;
    }
  }
  return status;
}

}  // namespace

int RunCollector(const CollectorConfig& config, const RunOptions& run) {
  WorkerOptions base;
  try {
    const auto store = OpenStore(config.store_url, StoreAccess::kCreate);
    store->Migrate();
    for (const TerminalConfig& terminal : config.terminals) store->RegisterTerminal(terminal);
    // The most overdue first, so a restart never starves the last terminals.
    if (run.once) base.order = OverdueOrder(*store, config);
  } catch (const StoreError& error) {
    std::cerr << "pq640-collect: " << error.what() << std::endl;
    return 1;
  }
  InstallSignalHandlers();
  base.once = run.once;
  base.claim_log = run.claim_log;
  if (run.workers <= 1) return RunWorker(config, base);

  // The --once queue lives in memory the worker processes share.
  void* shared = mmap(nullptr, sizeof(std::atomic<std::uint32_t>), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    std::cerr << "pq640-collect: cannot share the work queue between workers" << std::endl;
    return 1;
  }
  static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
  base.once_queue = new (shared) std::atomic<std::uint32_t>(0);
  std::map<pid_t, WorkerOptions> workers;
  for (int i = 0; i < run.workers; ++i) {
    WorkerOptions options = base;
    options.index = i;
    const pid_t pid = StartWorker(config, options);
    if (pid < 0) {
      std::cerr << "pq640-collect: cannot start worker " << i << std::endl;
      g_stop_requested = 1;
      break;
    }
    workers[pid] = options;
  }
  const int status = Supervise(config, run, std::move(workers));
  munmap(shared, sizeof(std::atomic<std::uint32_t>));
  return status;
}

}  // namespace pq640collect
