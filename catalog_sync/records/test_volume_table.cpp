#include "catalog_sync/records/test_volume_table.h"

#include <string>

#include "platform/core/error.h"

namespace catalog_sync {

namespace {

std::string CellText(std::int32_t i, std::int32_t part) {
  return "(" + std::to_string(i) + ", " + std::to_string(part) + ")";
}

}  // namespace

void TestVolumeTable::Dimension(std::int16_t n) {
  if (n < 1) {
    throw platform::Error(platform::err::kSubscriptOutOfRange)
        .AddDetail("test-volume table",
                   "cannot be sized to assay positions 1 to " + std::to_string(n));
  }
  std::vector<std::optional<TestVolume>> fresh(static_cast<std::size_t>(n) * kParts);
  cells_.swap(fresh);
  size_ = n;
}

std::size_t TestVolumeTable::CellIndex(std::int32_t i, std::int32_t part) const {
  if (i < 1 || i > size_ || part < 0 || part >= kParts) {
    throw platform::Error(platform::err::kSubscriptOutOfRange)
        .AddDetail("test-volume cell",
                   CellText(i, part) + " of (1.." + std::to_string(size_) + ", 0..2)");
  }
  return static_cast<std::size_t>(i - 1) * kParts + static_cast<std::size_t>(part);
}

void TestVolumeTable::Set(std::int32_t i, std::int32_t part, TestVolume record) {
  cells_[CellIndex(i, part)] = record;
}

const TestVolume& TestVolumeTable::At(std::int32_t i, std::int32_t part) const {
  const std::optional<TestVolume>& cell = cells_[CellIndex(i, part)];
  if (!cell) {
    throw platform::Error(kObjectNotSet, "Object variable or With block variable not set")
        .AddDetail("test-volume cell", CellText(i, part) + " holds no record");
  }
  return *cell;
}

bool TestVolumeTable::Holds(std::int32_t i, std::int32_t part) const {
  return cells_[CellIndex(i, part)].has_value();
}

}  // namespace catalog_sync
