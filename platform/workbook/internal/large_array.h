// Memory for the reader's two large arrays, the workbook stream and the
// cells, in transparent huge pages where the system grants them.
//
// An open writes each byte of these arrays once. On the virtual machines the
// programs run on, the first touch of a fresh 4 KiB page costs 7 to 12 us
// (the fault, then its mapping for user space), and the arrays' pages were
// most of an open: the 500-sheet benchmark workbook (a 1.3 MB stream, 1 MB
// of cells) opened in 8.5 ms with 580 page faults in 4 KiB pages, in 2 ms
// with 44 in 2 MiB ones. The advice is MADV_HUGEPAGE on the array's own
// anonymous mapping: where the system's setting is "never" it has no
// effect, and where no huge page is free the kernel gives 4 KiB pages as
// before. An array below kHugeArrayBytes comes from the heap like any other.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace platform::workbook {

inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
// Below a quarter of a huge page, zeroing a whole one costs more than the
// 4 KiB pages it saves.
inline constexpr std::size_t kHugeArrayBytes = kHugePageBytes / 4;

// `bytes` of memory aligned for any object, from huge pages when `bytes` is
// at least kHugeArrayBytes. Throws std::bad_alloc.
void* AllocateLargeArray(std::size_t bytes);
// REQUIRES: `memory` came from AllocateLargeArray(bytes), with these bytes.
void FreeLargeArray(void* memory, std::size_t bytes) noexcept;

// A std::vector allocator over AllocateLargeArray. resize() leaves new
// elements default-initialised (indeterminate for char and trivial types):
// the reader writes each element before reading it, and zeroing them first
// would be one more pass over fresh memory.
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

}  // namespace platform::workbook
