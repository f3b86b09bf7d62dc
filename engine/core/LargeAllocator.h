// An allocator for the few large, short-lived buffers of a bulk operation (a view build's
// entries, keys and cells: tens of megabytes at a million documents).
//
// Memory fresh from the kernel is mapped on first touch, one 4 KB page fault at a time, and
// on a virtual machine each fault costs microseconds: a build touching 30 MB spent a third
// of its time in the kernel. Blocks of kLargeBytes or more are therefore mapped directly,
// aligned and sized to whole 2 MB, and marked for transparent huge pages, which the kernel
// then maps 2 MB at a time (a fiftieth of the cost); smaller
// blocks come from operator new as usual. Nothing changes where huge pages are unavailable
// (the advice is ignored) beyond the block being a mapping of its own.
//
// Failures: allocate throws std::bad_alloc when memory cannot be had, as std::allocator does.
// Stateless; any thread may use it.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace quire::engine {

template <typename T>
class LargeAllocator {
 public:
  using value_type = T;
  static constexpr size_t kLargeBytes = size_t(1) << 20;

  LargeAllocator() noexcept = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) noexcept {}

  T* allocate(size_t n) {
    if (n > (size_t(-1) - 2 * kHugePage) / sizeof(T)) throw std::bad_alloc();
    const size_t bytes = n * sizeof(T);
    if (bytes < kLargeBytes) return static_cast<T*>(::operator new(bytes));
    // Huge pages cover only whole, aligned 2 MB ranges: map a little more and trim.
    const size_t length = rounded(bytes);
    void* p = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    if (aligned > start) munmap(p, aligned - start);
    if (const size_t tail = start + kHugePage - aligned; tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);  // advice: ignored without huge pages
#endif
    return reinterpret_cast<T*>(aligned);
  }

  void deallocate(T* p, size_t n) noexcept {
    const size_t bytes = n * sizeof(T);
    if (bytes < kLargeBytes) ::operator delete(p);
    else munmap(p, rounded(bytes));
  }

 private:
  static constexpr size_t kHugePage = size_t(2) << 20;
  static size_t rounded(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

 public:
  template <typename U>
  bool operator==(const LargeAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace quire::engine
