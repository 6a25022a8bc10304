// What the fake OS's seam files share: the one fake, the call log, handle
// lookup, the timing of scripted chunks and the failure injected into the
// current call.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>

#include "fake_os.h"

namespace pq640::fake::internal {

inline constexpr os::Socket kFirstSocket = 100;
inline constexpr os::SerialHandle kFirstSerialHandle = 500;

extern FakeOs g_os;

// Appends one line to the call log.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

FakeSocket* FindSocket(os::Socket handle);
FakeSerialPort* FindPort(os::SerialHandle handle);

// How the call just logged is to fail, if it is the one picked.
Injected InjectedHere();
bool Fails();

// When the head chunk of `input` becomes available, fixing its arrival time
// the first time a reader looks at it.
template <typename Endpoint>
std::uint64_t HeadReadyAt(Endpoint& endpoint, std::deque<Chunk>& input) {
  if (!endpoint.head_timed) {
    endpoint.head_ready_at = g_os.now_ms + input.front().delay_ms;
    endpoint.head_timed = true;
  }
  return endpoint.head_ready_at;
}

// Takes up to `count` bytes of the head chunk.
template <typename Endpoint>
std::uint32_t TakeFromHead(Endpoint& endpoint, std::deque<Chunk>& input, std::uint8_t* buffer,
                           std::uint32_t count) {
  Chunk& head = input.front();
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, head.bytes.size()));
  std::copy_n(head.bytes.begin(), n, buffer);
  head.bytes.erase(head.bytes.begin(), head.bytes.begin() + n);
  if (head.bytes.empty()) {
    input.pop_front();
    endpoint.head_timed = false;
  }
  return n;
}

}  // namespace pq640::fake::internal
