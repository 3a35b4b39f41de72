#include "platform/core/large_pages.h"

#include <sys/mman.h>

#include <cstdint>
#include <limits>

namespace platform {

namespace {

constexpr std::uintptr_t kHugePage = kHugePageBytes;

std::uintptr_t RoundDown(std::uintptr_t at) {
  return at & ~(kHugePage - 1);
}
std::uintptr_t RoundUp(std::uintptr_t at) {
  return RoundDown(at + kHugePage - 1);
}

// A kernel without transparent huge pages refuses the advice (EINVAL); the
// memory is then backed by 4 KiB pages, as without it.
void AdviseHugePages(std::uintptr_t begin, std::uintptr_t end) {
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

void AdviseLargePages(const void* data, std::size_t size) {
  constexpr std::size_t kWorthIt = 4 * kHugePageBytes;
  if (size < kWorthIt) return;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  AdviseHugePages(RoundUp(start), RoundDown(start + size));
}

void* AllocateLargeArray(std::size_t bytes) {
  if (bytes < kLargeArrayBytes) return ::operator new(bytes);
  if (bytes > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
  const std::size_t size = RoundUp(bytes);
  // A huge page needs an aligned 2 MiB of the mapping: map one more and give
  // back the ends around the aligned part. MAP_NORESERVE, so that the system
  // does not refuse a mapping sized for the most that could be needed, of
  // which only the pages written take memory.
  const std::size_t mapped = size + kHugePageBytes;
  void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = RoundUp(start);
  if (aligned > start) ::munmap(raw, aligned - start);
  const std::uintptr_t tail = aligned + size;
  if (start + mapped > tail) ::munmap(reinterpret_cast<void*>(tail), start + mapped - tail);
  AdviseHugePages(aligned, tail);
  return reinterpret_cast<void*>(aligned);
}

void FreeLargeArray(void* memory, std::size_t bytes) noexcept {
  if (bytes < kLargeArrayBytes) return ::operator delete(memory);
  ::munmap(memory, RoundUp(bytes));
}

}  // namespace platform
