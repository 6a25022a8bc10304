// A loopback server that answers every connection with one pre-built response
// after the whole request has arrived, so that the library and the raw reader
// read identical bytes and no terminal model's speed is measured.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "wire_frames.h"

namespace pq640bench {

struct Exchange {
  Bytes request;   // what a correct client sends, preamble to checksum
  Bytes response;  // sent back once request.size() bytes have arrived
};

class ReplayServer {
 public:
  ReplayServer() = default;
  ~ReplayServer();
  ReplayServer(const ReplayServer&) = delete;
  ReplayServer& operator=(const ReplayServer&) = delete;

  // Listens on `address` (a 127.x.y.z address) and `port`; false with a
  // reason when the socket cannot be bound.
  bool Start(const std::string& address, std::uint16_t port, std::string* error);
  void Stop();

  // Only between connections: the exchange must outlive every connection
  // that uses it. With an alternative (a request of the same length), each
  // connection gets the answer of whichever request it sent, so two
  // scenarios can be timed alternately.
  void Serve(const Exchange* exchange, const Exchange* alternative = nullptr);

  // Connections whose request differed from the expected bytes, or that
  // ended before the whole request arrived.
  std::uint64_t BadRequests() const { return bad_requests_.load(); }

 private:
  void Run();
  void Answer(int connection);

  int listener_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<const Exchange*> exchange_{nullptr};
  std::atomic<const Exchange*> alternative_{nullptr};
  std::atomic<std::uint64_t> bad_requests_{0};
  Bytes received_;
};

}  // namespace pq640bench
