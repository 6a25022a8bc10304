#include "allocation_counter.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

// glibc's own allocator under its internal names: the replacements below count
// and hand over to it, so memory from either side may be freed by the other.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {

// Plain thread-locals in the executable: no constructor, no allocation on first use.
thread_local bool counting = false;
thread_local std::uint64_t allocations = 0;

void Note() {
  if (counting) ++allocations;
}

void* NewOrThrow(std::size_t size) {
  Note();
  void* pointer = __libc_malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

}  // namespace

namespace pq640bench {

CountedAllocations::CountedAllocations() : start_(allocations) { counting = true; }
CountedAllocations::~CountedAllocations() { counting = false; }
std::uint64_t CountedAllocations::Count() const { return allocations - start_; }

}  // namespace pq640bench

extern "C" {

void* malloc(std::size_t size) noexcept {
  Note();
  return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept {
  Note();
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) noexcept {
  Note();
  return __libc_realloc(pointer, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  Note();
  return __libc_memalign(alignment, size);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
  Note();
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
  Note();
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *out = pointer;
  return 0;
}

void free(void* pointer) noexcept { __libc_free(pointer); }

}  // extern "C"

void* operator new(std::size_t size) { return NewOrThrow(size); }
void* operator new[](std::size_t size) { return NewOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  Note();
  return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  Note();
  return __libc_malloc(size == 0 ? 1 : size);
}
void operator delete(void* pointer) noexcept { __libc_free(pointer); }
void operator delete[](void* pointer) noexcept { __libc_free(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { __libc_free(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { __libc_free(pointer); }
