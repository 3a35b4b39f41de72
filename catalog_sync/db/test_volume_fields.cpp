#include "catalog_sync/db/test_volume_fields.h"

#include <array>

#include "catalog_sync/db/column_mapping.h"
#include "catalog_sync/records/record_properties.h"

namespace catalog_sync::db {

namespace {

// In the order the columns are set. Column and property both spell
// "Regent", not "Reagent", in RegentVolKey.
constexpr std::array<ColumnFromProperty, 7> kVolumeColumns = {{
    {"TV_ReagentVol", "ReagentVol"},
    {"TV_RegentVolKey", "RegentVolKey"},
    {"TV_WaterToAssayB", "WaterToAssayB"},
    {"TV_InitWater", "InitWater"},
    {"TV_WaterToAssayA", "WaterToAssayA"},
    {"TV_WashFill", "WashFill"},
    {"TV_LastWash", "LastWash"},
}};

const std::vector<ColumnSource<TestVolume>>& VolumeColumns() {
  static const std::vector<ColumnSource<TestVolume>> columns = ResolveColumns<TestVolume>(
      std::span<const ColumnFromProperty>(kVolumeColumns), TestVolumeProperties());
  return columns;
}

}  // namespace

void WriteTestVolumeFields(platform::engine::Database& db, RowEdit& row,
                           const TestVolumeTable& colObjTV, std::int16_t nPosition,
                           std::int32_t byPart) {
  SetColumns(row, VolumeColumns(), colObjTV.At(nPosition, byPart));
  row.Update(db);
}

}  // namespace catalog_sync::db
