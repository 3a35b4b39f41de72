// WriteTestVolumeFields: one TestVolume into its row of TestVolumes.
#pragma once

#include <cstdint>

#include "catalog_sync/db/row_edit.h"
#include "catalog_sync/records/test_volume_table.h"
#include "platform/engine/database.h"

namespace catalog_sync::db {

// Sets the seven volume columns of the TestVolumes row `row` (a new row or an
// existing one) from the record at (nPosition, byPart) of colObjTV, each as
// a 32-bit integer, and stores the row. TV_TestsID, TV_Part and the other
// columns keep their values; the record's own TestsID and Part are not read.
// Throws platform::Error: a cell outside the table or without a record
// (before any column is set), a value a column refuses.
void WriteTestVolumeFields(platform::engine::Database& db, RowEdit& row,
                           const TestVolumeTable& colObjTV, std::int16_t nPosition,
                           std::int32_t byPart);

}  // namespace catalog_sync::db
