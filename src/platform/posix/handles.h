// Handles of the POSIX seam.
//
// POSIX hands out the lowest free descriptor number again at once, so a bare
// descriptor number would let a stale handle close whatever the host opened
// next. A handle is a table slot plus a generation that changes with every
// open: 31 bits in all, so it fits a 32-bit host's intptr_t and never reads as
// the invalid handle -1. Tables are constant-initialised and trivially
// destructible: the unload hook may call in during static destruction.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pq640::os::posix {

// `Entry` has `std::intptr_t handle` and `int fd` (negative: slot free).
template <typename Entry, std::size_t N>
class HandleTable {
  static constexpr unsigned kSlotBits = 7;
  static constexpr std::uint32_t kLastGeneration = (1u << (31 - kSlotBits)) - 1u;
  static_assert(N <= (1u << kSlotBits), "the slot must fit its bits");

 public:
  // Binds a free slot to `fd` under a fresh handle; null when all are taken.
  Entry* Add(int fd) {
    for (std::size_t slot = 0; slot < N; ++slot) {
      Entry& entry = entries_[slot];
      if (entry.fd >= 0) continue;
      if (++generation_ > kLastGeneration) generation_ = 1;
      entry = Entry{};
      entry.fd = fd;
      entry.handle = static_cast<std::intptr_t>((generation_ << kSlotBits) | slot);
      return &entry;
    }
    return nullptr;
  }

  // The live entry of `handle`, or null for a stale, forged or invalid one.
  Entry* Find(std::intptr_t handle) {
    for (Entry& entry : entries_) {
      if (entry.fd >= 0 && entry.handle == handle) return &entry;
    }
    return nullptr;
  }

  void Remove(Entry* entry) { *entry = Entry{}; }

  Entry* begin() { return entries_; }
  Entry* end() { return entries_ + N; }

 private:
  Entry entries_[N] = {};
  std::uint32_t generation_ = 0;
};

}  // namespace pq640::os::posix
