// The byte stream one session runs on: a TCP connection or the pty master.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pq640sim {

class Channel {
 public:
  enum class ReadStatus { kData, kIdle, kClosed, kStopped };
  struct ReadResult {
    ReadStatus status = ReadStatus::kIdle;
    std::size_t count = 0;
  };

  virtual ~Channel() = default;
  // Waits up to `timeout_ms` for input; kIdle when none came.
  virtual ReadResult Read(std::span<std::uint8_t> buffer, std::uint32_t timeout_ms) = 0;
  // Sends every byte; false when the peer is gone, on stop, or when the peer
  // has taken nothing for a long time.
  virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
  // Waits `ms` unless stopped first (then false).
  virtual bool Pause(std::uint32_t ms) = 0;
  // Ends the connection where the link has one; false where it cannot (a
  // serial line just falls silent).
  virtual bool Drop() = 0;
};

}  // namespace pq640sim
