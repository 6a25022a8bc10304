// The terminal's serial side on a pseudo-terminal. The host opens the slave
// device as its serial port; the simulator serves the master.
//
// The simulator keeps a slave descriptor of its own open for as long as it
// runs: the master then never sees a hang-up while the host closes and
// reopens the port, and line settings (raw mode, the baud rate the host
// programs) live on. It never locks or reads that descriptor.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "session.h"
#include "stop_signal.h"

namespace pq640sim {

class SerialServer {
 public:
  explicit SerialServer(SessionContext context);
  ~SerialServer();
  SerialServer(const SerialServer&) = delete;
  SerialServer& operator=(const SerialServer&) = delete;

  // Opens the pty (and the symlink when `link_path` is set) and starts the
  // service thread. Returns the slave path, or nothing (with `error`).
  std::optional<std::string> Start(const std::string& link_path, std::string* error);
  void Stop();
  // Output baud rate currently programmed on the line; 0 when not running.
  std::uint32_t CurrentBaud() const;

 private:
  bool OpenPty(std::string* error);
  bool CreateLink(const std::string& link_path, std::string* error);
  void RemoveLink();
  void Run();

  SessionContext context_;
  mutable std::mutex fd_mutex_;  // CurrentBaud() against Stop()
  int master_fd_ = -1;
  int slave_fd_ = -1;
  std::string slave_path_;
  std::string link_path_;
  StopSignal stop_;
  std::thread thread_;
};

}  // namespace pq640sim
