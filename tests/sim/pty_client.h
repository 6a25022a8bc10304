// The host's end of the simulator's pseudo-terminal, opened the way a serial
// port is: raw, exclusive flock, chosen baud rate. Every wait is bounded.
#pragma once

#include <termios.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pq640sim::test {

class PtyClient {
 public:
  explicit PtyClient(const std::string& path);
  ~PtyClient();
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  bool Locked() const { return locked_; }
  bool SetBaud(speed_t speed);
  void DiscardInput();
  bool Send(std::span<const std::uint8_t> bytes);
  // Reads until `count` bytes have arrived or `timeout_ms` passes.
  std::vector<std::uint8_t> Receive(std::size_t count, int timeout_ms);

 private:
  int fd_ = -1;
  bool locked_ = false;
};

}  // namespace pq640sim::test
