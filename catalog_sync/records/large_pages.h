// Large buffers backed by 2 MiB pages.
//
// A buffer of tens of megabytes that is filled once costs a page fault for
// every 4 KiB page at its first touch, and on a virtual machine such a fault
// costs several microseconds, more than filling the page. Where the kernel
// gives transparent huge pages on request (the "madvise" setting), asking
// for them turns 512 faults into one. Nothing else changes: the memory reads
// and writes as before, and where huge pages are not to be had it is backed
// as it would have been.
#pragma once

#include <cstddef>

namespace catalog_sync {

// Asks that the whole 2 MiB pages within [data, data + size) be backed by
// huge pages when they are first touched. A hint: it never fails. Only
// worth it for a buffer of many megabytes that is not yet touched (a
// reserved container), as the pages already touched stay as they are.
void AdviseLargePages(const void* data, std::size_t size);

// Reserves room for `count` elements and advises the room as above.
template <typename Container>
void ReserveOnLargePages(Container& container, std::size_t count) {
  container.reserve(count);
  AdviseLargePages(container.data(), container.capacity() * sizeof(*container.data()));
}

}  // namespace catalog_sync
