// The state of one CatalogSync run, held by the run driver for the whole run
// and read by the loaders, the change dispatch and the database writer.
#pragma once

#include <optional>
#include <string>

#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/test_volume_table.h"
#include "platform/engine/database.h"

namespace catalog_sync {

struct RunState {
  // The command-line arguments as one string, upper-cased, then trimmed.
  std::string sRunKeyword;
  // Full path of this run's source: the workbook ("QVR") or the package
  // file ("INSTALL").
  std::string sSourceFile;
  // Full path of the database the run changes (a plan names its own).
  std::string sDatabaseFile;
  // The assay definitions in source order, 1-based, and their test volumes
  // (same positions, parts 0 to 2); filled by the loader of the keyword.
  AssayCollection colAssay;
  TestVolumeTable colObjTV;
  // The run's one connection, open from OpenConnection until the driver
  // closes it.
  std::optional<platform::engine::Database> connection;
};

}  // namespace catalog_sync
