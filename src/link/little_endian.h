// Integers on the wire are little-endian: lowest byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pq640 {

// The low `N` bytes of `value`, lowest first.
template <std::size_t N>
constexpr std::array<std::uint8_t, N> LittleEndian(std::uint32_t value) {
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t i = 0; i < N; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return bytes;
}

constexpr std::uint32_t FromLittleEndian(const std::uint8_t* bytes, std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
  return value;
}

}  // namespace pq640
