// The test-volume table `colObjTV`: three TestVolume records per assay, the
// first index the owning assay's position in the assay collection (1..n), the
// second the reagent part (0..2). The link to the assay is the position only.
//
// Every access outside the dimensioned bounds, and every access to a table
// never dimensioned, throws platform::Error "Subscript out of range" (9).
// A cell holds no record until Set fills it; reading such a cell throws
// kObjectNotSet (91), as reading through an unset object reference did.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "catalog_sync/records/test_volume.h"

namespace catalog_sync {

// "Object variable or With block variable not set".
inline constexpr long kObjectNotSet = 91;

class TestVolumeTable {
 public:
  static constexpr std::int32_t kParts = 3;  // parts 0, 1 and 2

  // Sizes the table afresh to 1..n by 0..2, every cell empty, discarding all
  // it held. n < 1 throws "Subscript out of range" and leaves the table as
  // it was.
  void Dimension(std::int16_t n);

  // The highest assay position (0 while never dimensioned).
  std::int32_t Size() const { return size_; }

  // Puts a record into cell (i, part), replacing what it held.
  void Set(std::int32_t i, std::int32_t part, TestVolume record);

  // The record of cell (i, part); throws 9 outside the bounds and 91 for a
  // cell that holds no record. The reference stays valid until the next
  // Dimension.
  const TestVolume& At(std::int32_t i, std::int32_t part) const;

  // Whether cell (i, part) holds a record; throws 9 outside the bounds.
  bool Holds(std::int32_t i, std::int32_t part) const;

 private:
  std::size_t CellIndex(std::int32_t i, std::int32_t part) const;

  std::int32_t size_ = 0;
  std::vector<std::optional<TestVolume>> cells_;
};

}  // namespace catalog_sync
