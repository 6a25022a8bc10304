// Counts heap allocations made on the calling thread while counting is on.
// This program replaces malloc and operator new (allocation_counter.cpp); the
// library's calls reach the replacements through the dynamic linker, so an
// allocation anywhere inside the library is seen. Other threads (the servers)
// are never counted.
#pragma once

#include <cstdint>

namespace pq640bench {

class CountedAllocations {
 public:
  CountedAllocations();
  ~CountedAllocations();
  CountedAllocations(const CountedAllocations&) = delete;
  CountedAllocations& operator=(const CountedAllocations&) = delete;

  // Allocations made on this thread since construction.
  std::uint64_t Count() const;

 private:
  std::uint64_t start_;
};

}  // namespace pq640bench
