// pq640-sim: the simulated terminal as a stand-alone program, for developing a
// host application without the hardware.
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

#include "pq640sim/date_time.h"
#include "pq640sim/simulator.h"

#ifndef PQ640_VERSION
#define PQ640_VERSION "(unversioned build)"
#endif

namespace {

struct CommandLine {
  std::string listen_address;
  std::uint16_t port = pq640sim::kDefaultTcpPort;
  bool serial = false;
  std::string link_path;
  std::uint16_t terminal_id = pq640sim::TerminalSettings{}.terminal_id;
  bool trace = false;
  std::string clock;
  pq640sim::StoreCapacities capacities;
  pq640sim::GeneratedRecordCounts generated;
  std::optional<std::uint32_t> count_surplus;
};

// A start count above its capacity would be cut silently; say so instead.
bool GeneratedFitsCapacity(const CommandLine& options) {
  const auto& wanted = options.generated;
  const auto& room = options.capacities;
  return wanted.users <= room.users && wanted.administrators <= room.administrators &&
         wanted.io_records <= room.io_records && wanted.admin_records <= room.admin_records;
}

// SIGINT and SIGTERM are taken by sigwait() in main; blocking them before
// the service thread starts keeps them away from that thread.
sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine options;
  CLI::App app{"Simulated enrolment/attendance terminal on TCP or a pseudo-terminal"};
  auto* listen = app.add_option("--listen", options.listen_address,
                                "Serve TCP on this IPv4 address (e.g. 127.0.0.1)");
  auto* port = app.add_option("--port", options.port, "TCP port")->capture_default_str();
  auto* serial = app.add_flag("--serial", options.serial, "Serve a pseudo-terminal");
  auto* link = app.add_option("--link", options.link_path,
                              "With --serial: create a symlink here to the slave device");
  app.add_option("--id", options.terminal_id, "Terminal ID")
      ->check(CLI::Range(0, 255))
      ->capture_default_str();
  app.add_flag("--trace", options.trace, "Print every request and response frame in hex");
  app.add_option("--clock", options.clock, "Start clock, \"YY-MM-DD hh:mm:ss\" (default: local time)");
  app.add_option("--max-users", options.capacities.users, "User table capacity")
      ->capture_default_str();
  app.add_option("--max-admins", options.capacities.administrators,
                 "Administrator table capacity")
      ->capture_default_str();
  app.add_option("--max-io-records", options.capacities.io_records, "IO log capacity")
      ->capture_default_str();
  app.add_option("--max-admin-records", options.capacities.admin_records,
                 "Administrator log capacity")
      ->capture_default_str();
  app.add_option("--users", options.generated.users, "Start with N generated users (IDs 1..N)");
  app.add_option("--admins", options.generated.administrators,
                 "Start with N generated administrators (IDs 1..N)");
  app.add_option("--io-records", options.generated.io_records,
                 "Start with N generated IO records over the 30 days before the clock");
  app.add_option("--admin-records", options.generated.admin_records,
                 "Start with N generated administrator log records");
  app.add_option("--count-surplus", options.count_surplus,
                 "Reading answers announce K more entries than the count commands give (a test of "
                 "hosts that size arrays from the count)");
  listen->excludes(serial);
  port->needs(listen);
  link->needs(serial);
  app.set_version_flag("--version", std::string("pq640-sim ") + PQ640_VERSION);
  // CLI11's own exit codes (105, 109, ...) would hide that the options were
  // wrong: every bad option is exit status 2, help and version are 0.
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : 2;
  }

  if (options.listen_address.empty() && !options.serial) {
    std::cerr << "pq640-sim: give --listen ADDRESS or --serial\n";
    return 2;
  }

  if (!GeneratedFitsCapacity(options)) {
    std::cerr << "pq640-sim: a start count (--users, --admins, --io-records, --admin-records)"
                 " is above its capacity (--max-...)\n";
    return 2;
  }

  pq640sim::SimulatorOptions sim_options;
  sim_options.settings.terminal_id = options.terminal_id;
  sim_options.capacities = options.capacities;
  sim_options.generated = options.generated;
  if (!options.clock.empty()) {
    sim_options.start_clock = pq640sim::ParseDateTime(options.clock);
    if (!sim_options.start_clock) {
      std::cerr << "pq640-sim: --clock wants a valid \"YY-MM-DD hh:mm:ss\"\n";
      return 2;
    }
  }
  if (options.trace) {
    sim_options.trace = [](std::string_view line) { std::cout << line << std::endl; };
  }

  const sigset_t stop_signals = BlockStopSignals();
  pq640sim::Simulator simulator(sim_options);
  if (options.count_surplus) {
    pq640sim::Faults faults;
    faults.count_surplus = options.count_surplus;
    simulator.SetFaults(faults);
  }
  if (options.serial) {
    const std::optional<std::string> path = simulator.StartSerial(options.link_path);
    if (!path) {
      std::cerr << "pq640-sim: " << simulator.LastError() << "\n";
      return 1;
    }
    std::cout << "pq640-sim: serial on " << *path;
    if (!options.link_path.empty()) std::cout << " (link " << options.link_path << ")";
    std::cout << std::endl;
  } else {
    if (!simulator.StartTcp(options.listen_address, options.port)) {
      std::cerr << "pq640-sim: " << simulator.LastError() << "\n";
      return 1;
    }
    std::cout << "pq640-sim: listening on " << options.listen_address << ":" << options.port
              << std::endl;
  }

  int received = 0;
  sigwait(&stop_signals, &received);
  simulator.Stop();
  std::cout << "pq640-sim: stopped" << std::endl;
  return 0;
}
