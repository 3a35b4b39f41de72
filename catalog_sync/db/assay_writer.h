// The catalogue writer's two changes of one test: its removal (mode
// "DELETE") and its add-or-overwrite (modes "ADD" and "MODIFY").
//
// Neither traps a failure: every platform::Error passes to the caller, the
// change dispatch, with what the rows written so far hold still in the
// connection's open transaction, for the caller to roll back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/test_volume_table.h"
#include "platform/engine/database.h"

namespace catalog_sync::db {

// What the writer reads of the run state. The references must outlive the
// calls that take it.
struct Catalogue {
  const AssayCollection& colAssay;
  const TestVolumeTable& colObjTV;
  std::string_view sRunKeyword;  // "QVR" or "INSTALL"
};

// Removes test nTestNumber: its TestRanges rows, its TestVolumes rows and
// its Tests row when the stored Tests_Name, upper-cased, equals sTestName
// (which the caller passes trimmed and upper-cased); its Kits rows in any
// case. The name is compared whole, as a bound parameter: no character of
// it is SQL.
void DeleteAssay(platform::engine::Database& db, std::int16_t nTestNumber,
                 const std::string& sTestName);

// Adds what is missing and overwrites what is there for the assay at
// nPosition of colAssay (and row nPosition of colObjTV): the Tests row
// (a new one also gets Tests_ReportingUnits from Tests_DefUnits), a
// TestVolumes row for each part whose ReagentVol is not 0 (the first row of
// a part whose ReagentVol is 0 is deleted), and the normal range row
// (range 1) of TestRanges, whose limits an existing row takes only when the
// keyword is "QVR". REQUIRES: nTestNumber is the assay's TestNumber, not 0.
void AddModifyAssay(platform::engine::Database& db, const Catalogue& catalogue,
                    std::int16_t nPosition, std::int16_t nTestNumber);

}  // namespace catalog_sync::db
