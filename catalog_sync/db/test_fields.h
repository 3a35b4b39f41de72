// WriteTestFields: one Assay into its row of Tests.
#pragma once

#include <cstdint>

#include "catalog_sync/db/row_edit.h"
#include "catalog_sync/records/assay_collection.h"
#include "platform/engine/database.h"

namespace catalog_sync::db {

// Sets the 29 assay columns of the Tests row `row` (a new row or an existing
// one) from the assay at `nPosition` of colAssay, each in its property's own
// kind, and stores the row. Tests_ID, Tests_ReportingUnits and every column
// outside the mapping keep their values. Throws platform::Error: a position
// outside colAssay (before any column is set), a value a column refuses.
void WriteTestFields(platform::engine::Database& db, RowEdit& row, const AssayCollection& colAssay,
                     std::int16_t nPosition);

}  // namespace catalog_sync::db
