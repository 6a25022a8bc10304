// Channel over a non-blocking descriptor. Every wait is cut into short poll
// slices that also watch the stop signal and call `tick` (the TCP server uses
// it to apply fault changes while a connection is open).
#pragma once

#include <functional>

#include "channel.h"
#include "stop_signal.h"

namespace pq640sim {

class FdChannel final : public Channel {
 public:
  enum class Kind { kSocket, kPty };

  FdChannel(int fd, Kind kind, const StopSignal& stop, std::function<void()> tick = {});

  ReadResult Read(std::span<std::uint8_t> buffer, std::uint32_t timeout_ms) override;
  bool Write(std::span<const std::uint8_t> bytes) override;
  bool Pause(std::uint32_t ms) override;
  bool Drop() override;

  bool Dropped() const { return dropped_; }

 private:
  // One poll slice on the descriptor (events may be 0: only the stop signal)
  // and the stop signal. False when stopped; `ready` tells whether fd is ready.
  bool Slice(short events, int timeout_ms, bool* ready);

  int fd_;
  Kind kind_;
  const StopSignal& stop_;
  std::function<void()> tick_;
  bool dropped_ = false;
};

}  // namespace pq640sim
