// The simulator's request parser faces hosts: any byte stream, split at any
// point, yields frames whose parts are consistent, and never crashes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "pq640sim/request_parser.h"
#include "pq640sim/wire_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // Byte 0 picks where the stream is split into two arrivals.
  const std::size_t split = size > 1 ? data[0] % size : 0;
  const std::span<const std::uint8_t> stream(data + 1, size - 1);
  pq640sim::RequestParser parser;
  std::size_t frames = 0;
  std::size_t taken = 0;
  const auto drain = [&] {
    while (auto frame = parser.Next()) {
      ++frames;
      taken += frame->raw.size();
      if (frame->raw.size() < pq640sim::kRequestHeaderSize) __builtin_trap();
      if (frame->kind == pq640sim::RequestFrame::Kind::kRequest &&
          frame->raw.size() != pq640sim::kRequestHeaderSize + frame->payload.size() + 1) {
        __builtin_trap();
      }
      if (frames > stream.size()) __builtin_trap();  // every frame consumes bytes
    }
  };
  parser.Feed(stream.first(std::min(split, stream.size())));
  drain();
  parser.Feed(stream.subspan(std::min(split, stream.size())));
  drain();
  if (taken > stream.size()) __builtin_trap();
  return 0;
}
