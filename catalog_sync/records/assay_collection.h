// The assay collection `colAssay`: the assays of one catalogue in the order
// they were added, addressed by position from 1.
#pragma once

#include <cstdint>
#include <vector>

#include "catalog_sync/records/assay.h"

namespace catalog_sync {

class AssayCollection {
 public:
  // Appends at the end; the record lands at position Count().
  void Add(Assay assay);
  // Room for `count` assays in all, so that a reader that knows the count
  // does not hold the old and the new array at once while it grows.
  void Reserve(std::int32_t count);

  // REQUIRES nothing: a position outside 1..Count() throws platform::Error
  // "Subscript out of range" (9). The reference stays valid until the next
  // Add.
  const Assay& Item(std::int32_t i) const;

  std::int32_t Count() const { return static_cast<std::int32_t>(assays_.size()); }

 private:
  std::vector<Assay> assays_;
};

}  // namespace catalog_sync
