// A raw TCP client for the tests: every wait is bounded.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pq640sim::test {

struct Received {
  std::vector<std::uint8_t> bytes;
  bool peer_closed = false;
};

class LoopbackClient {
 public:
  // Connects within `timeout_ms`; nothing on failure, with the errno in *error.
  static std::optional<LoopbackClient> Connect(const std::string& address, std::uint16_t port,
                                               int* error = nullptr, int timeout_ms = 2000);
  LoopbackClient(LoopbackClient&& other) noexcept;
  LoopbackClient& operator=(LoopbackClient&&) = delete;
  ~LoopbackClient();

  bool Send(std::span<const std::uint8_t> bytes);
  // Reads until `count` bytes have arrived, the peer closes, or `timeout_ms` passes.
  Received Receive(std::size_t count, int timeout_ms);
  // The way the host library ends a connection: shutdown, then close.
  void ShutdownAndClose();

 private:
  explicit LoopbackClient(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace pq640sim::test
