// What the bulk and log commands share: the caller's arrays, the batch limit
// on caller lists and the caller's progress report (answer_clock.h).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include <optional>

#include "link/answer_clock.h"
#include "pq640/pq640.h"
#include "protocol/framing.h"

namespace pq640 {

// IDs and record fields are copied between wire and caller memory as
// little-endian bytes; every host the library is built for is little-endian.
static_assert(std::endian::native == std::endian::little, "little-endian hosts only");

inline constexpr std::uint32_t kIdStride = 4;

// The i-th entry of a caller's array, from the array's stride alone.
inline std::uint8_t* Slot(void* array, std::uint32_t index, std::uint32_t stride) {
  return static_cast<std::uint8_t*>(array) + std::size_t{index} * stride;
}
inline const std::uint8_t* Slot(const void* array, std::uint32_t index, std::uint32_t stride) {
  return static_cast<const std::uint8_t*>(array) + std::size_t{index} * stride;
}

inline constexpr std::uint32_t kMinBatch = 1;
inline constexpr std::uint32_t kMaxBatch = PQ640_MAX_BATCH;

inline bool IsValidBatchSize(std::uint32_t n) { return n >= kMinBatch && n <= kMaxBatch; }

// Whether n announced entries fit the caller's array: the bounded reads are
// given its capacity, the originals trust the terminal. When they do not
// fit, the rest of the answer is abandoned and *count tells the caller n.
inline bool EntriesFit(std::uint32_t n, std::optional<std::uint32_t> capacity, std::uint32_t* count) {
  if (!capacity || n <= *capacity) return true;
  AbandonAnswer();
  *count = n;
  return false;
}


}  // namespace pq640
