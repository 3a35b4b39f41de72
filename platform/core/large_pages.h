// Large buffers backed by transparent huge pages (2 MiB) where the system
// grants them on request (its "madvise" setting).
//
// A buffer that is filled once costs a page fault at the first touch of each
// 4 KiB page, and on the virtual machines the programs run on such a fault
// costs 7 to 12 us, more than filling the page: the 1.3 MB stream and 1 MB
// of cells of a 500-sheet workbook opened in 8.5 ms with 580 faults, in 2 ms
// with 44; a 45 MB package read and written in 0.8 s with 40,200 faults, in
// 0.46 s with 15,500. Nothing else changes: where no huge page is free, or
// the system's setting is "never", the memory is backed by 4 KiB pages as it
// would have been.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace platform {

inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Asks that the whole huge pages within [data, data + size) be backed by
// huge pages when first touched. A hint: it never fails. Worth it only for a
// heap buffer of several huge pages that is not touched yet (a reserved
// container): smaller ones are left alone, as the advice would only split
// the heap's mapping, and pages already touched stay as they are.
void AdviseLargePages(const void* data, std::size_t size);

// Reserves room for `count` elements and advises the room as above.
template <typename Container>
void ReserveOnLargePages(Container& container, std::size_t count) {
  container.reserve(count);
  AdviseLargePages(container.data(), container.capacity() * sizeof(*container.data()));
}

// Below a quarter of a huge page, zeroing a whole one costs more than the
// 4 KiB pages it saves.
inline constexpr std::size_t kLargeArrayBytes = kHugePageBytes / 4;

// `bytes` of memory aligned for any object: from the heap below
// kLargeArrayBytes, otherwise a mapping of its own in huge pages, of which
// only the pages written take memory. Throws std::bad_alloc.
void* AllocateLargeArray(std::size_t bytes);
// REQUIRES: `memory` came from AllocateLargeArray(bytes), with these bytes.
void FreeLargeArray(void* memory, std::size_t bytes) noexcept;

// A std::vector allocator over AllocateLargeArray. resize() leaves new
// elements default-initialised (indeterminate for char and trivial types):
// for a buffer whose every element is written before it is read, zeroing
// them first would be one more pass over fresh memory.
template <typename T>
struct LargeArrayAllocator {
  using value_type = T;

  LargeArrayAllocator() = default;
  template <typename U>
  LargeArrayAllocator(const LargeArrayAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return static_cast<T*>(AllocateLargeArray(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { FreeLargeArray(p, n * sizeof(T)); }

  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  friend bool operator==(const LargeArrayAllocator&, const LargeArrayAllocator&) { return true; }
};

template <typename T>
using LargeArray = std::vector<T, LargeArrayAllocator<T>>;

}  // namespace platform
