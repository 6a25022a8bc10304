// Runs library commands on the fake OS with a fuzz input as the terminal's
// bytes, and checks what must hold whatever the terminal sends.
//
// Input: byte 0 picks the command (modulo the target's list), byte 1 carries
// the link (bit 0: serial) and a small number the command may use (bits 1-7),
// the rest is what the terminal sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "pq640/pq640.h"

namespace pq640::fuzz {

struct FuzzInput {
  std::uint8_t selector = 0;
  std::uint8_t parameter = 0;  // 0..127
  bool serial = false;
  std::span<const std::uint8_t> terminal_bytes;
};

// Nothing when the input is too short to pick a command.
bool SplitInput(const std::uint8_t* data, std::size_t size, FuzzInput* input);

// The port opened on the chosen link with `terminal_bytes` as the answer to
// the next request.
void PrepareTerminal(const FuzzInput& input);

// Callbacks are checked as they come: every index below its total, or equal
// to it when `final_equal_allowed` (the log commands' closing call).
void ExpectProgress(bool final_equal_allowed);
void PQ640_CALL CheckedProgress(std::uint32_t total, std::uint32_t index);

// After the command: a documented code, and success only for a frame whose
// trailer matched (checked on the bytes the library actually consumed).
void CheckOutcome(const FuzzInput& input, PQ640_ResultCode result);

// Room for every entry the terminal's bytes could carry at `min_wire_size`
// bytes each: a library that wrote more than it received would overrun it.
std::size_t MostEntries(const FuzzInput& input, std::size_t min_wire_size);

// A heap array of exactly `count` elements (at least one), so an overrun
// lands outside the allocation where the address sanitizer sees it.
template <typename T>
std::vector<T> ExactArray(std::size_t count) {
  return std::vector<T>(count == 0 ? 1 : count);
}

[[noreturn]] void Fail(const char* what, long long value);

// A caller's array for a bounded read: `capacity` entries taken from the fuzz
// input, whatever the terminal announces. Heap-allocated to the exact size,
// so a write past it is seen by the address sanitizer; an array of none is
// one sentinel entry that must stay as it was.
template <typename T>
class CapacityArray {
 public:
  explicit CapacityArray(std::uint32_t capacity) : capacity_(capacity), entries_(capacity == 0 ? 1 : capacity) {
    std::memset(static_cast<void*>(entries_.data()), kSentinel, sizeof(T));
  }
  T* data() { return entries_.data(); }
  std::uint32_t capacity() const { return capacity_; }
  void CheckNothingWrittenWhenEmpty() const {
    if (capacity_ != 0) return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(entries_.data());
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      if (bytes[i] != kSentinel) Fail("write into an array of no entries", static_cast<long long>(i));
    }
  }

 private:
  static constexpr std::uint8_t kSentinel = 0xEE;
  std::uint32_t capacity_;
  std::vector<T> entries_;
};

// -105 exactly when the terminal announced more than `capacity`; success
// never with more entries than that.
void CheckBoundedCount(PQ640_ResultCode result, std::uint32_t count, std::uint32_t capacity);

}  // namespace pq640::fuzz
