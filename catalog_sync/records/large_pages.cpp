#include "catalog_sync/records/large_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace catalog_sync {

void AdviseLargePages(const void* data, std::size_t size) {
  constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
  // Below a few large pages the advice would only split the heap's mapping.
  constexpr std::size_t kWorthIt = 4 * kLargePage;
  if (size < kWorthIt) return;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (start + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t end = (start + size) & ~(kLargePage - 1);
  // A kernel without transparent huge pages refuses the advice (EINVAL);
  // the memory is then backed by small pages, as without it.
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace catalog_sync
