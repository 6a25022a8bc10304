// The terminal's TCP side: listens on one exact IPv4 address and port and
// serves one connection at a time, any number of requests per connection.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <thread>

#include "session.h"
#include "stop_signal.h"

namespace pq640sim {

class TcpServer {
 public:
  explicit TcpServer(SessionContext context);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Binds and starts the service thread; false (with `error`) when it cannot.
  bool Start(const std::string& address, std::uint16_t port, std::string* error);
  void Stop();

 private:
  void Run();
  // Follows refuse_connections: closes or reopens the listener.
  void ApplyFaults();
  bool Listen(std::string* error);
  void CloseListener();

  SessionContext context_;
  sockaddr_in address_{};
  int listen_fd_ = -1;
  std::uint64_t applied_generation_ = 0;
  StopSignal stop_;
  std::thread thread_;
};

}  // namespace pq640sim
