#include "platform/workbook/internal/large_array.h"

#include <sys/mman.h>

#include <cstdint>
#include <limits>

namespace platform::workbook {

namespace {

std::size_t RoundUpToHugePages(std::size_t bytes) {
  return (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
}

}  // namespace

void* AllocateLargeArray(std::size_t bytes) {
  if (bytes < kHugeArrayBytes) return ::operator new(bytes);
  if (bytes > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
  const std::size_t size = RoundUpToHugePages(bytes);
  // A huge page needs an aligned 2 MiB of the mapping: map one more and give
  // back the ends around the aligned part. Only the pages written take
  // memory, and the cell array is sized for the most cells its stream could
  // hold: MAP_NORESERVE, so that the system does not refuse the mapping for
  // a size that is never used.
  const std::size_t mapped = size + kHugePageBytes;
  void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  if (aligned > start) ::munmap(raw, aligned - start);
  const std::uintptr_t tail = aligned + size;
  if (start + mapped > tail) ::munmap(reinterpret_cast<void*>(tail), start + mapped - tail);
  auto* memory = reinterpret_cast<void*>(aligned);
  ::madvise(memory, size, MADV_HUGEPAGE);  // without effect where refused
  return memory;
}

void FreeLargeArray(void* memory, std::size_t bytes) noexcept {
  if (bytes < kHugeArrayBytes) return ::operator delete(memory);
  ::munmap(memory, RoundUpToHugePages(bytes));
}

}  // namespace platform::workbook
