#include <array>
#include <optional>

#include "catalog_sync/db/assay_writer.h"
#include "catalog_sync/db/row_edit.h"
#include "catalog_sync/db/test_fields.h"
#include "catalog_sync/db/test_volume_fields.h"

namespace catalog_sync::db {

namespace {

using platform::Value;
using platform::engine::Database;
using platform::engine::RowId;

// Range number 1 is the normal range.
constexpr std::int16_t kNormalRange = 1;

// The test row: overwritten when the table holds one for the number (the
// first in table order), else added with its key and, on the new row only,
// Tests_ReportingUnits taken from what Tests_DefUnits now holds.
void WriteTestRow(Database& db, const Catalogue& catalogue, std::int16_t nPosition,
                  std::int16_t nTestNumber) {
  const std::array<Value, 1> key = {Value(nTestNumber)};
  if (const std::optional<RowId> found = db.FirstRow("Tests", "Tests_ID = ?", key)) {
    RowEdit row = RowEdit::Existing("Tests", *found);
    WriteTestFields(db, row, catalogue.colAssay, nPosition);
    return;
  }
  RowEdit row = RowEdit::NewRow("Tests");
  row.Set("Tests_ID", Value(nTestNumber));
  WriteTestFields(db, row, catalogue.colAssay, nPosition);
  row.Set("Tests_ReportingUnits", db.ReadField("Tests", row.row(), "Tests_DefUnits"));
  row.Update(db);
}

// One reagent part: a part in use (ReagentVol not 0) gets its row added or
// its first row overwritten; the first row of a part not in use is deleted.
void WriteVolumeRow(Database& db, const Catalogue& catalogue, std::int16_t nPosition,
                    std::int16_t nTestNumber, std::int16_t nPart) {
  const std::array<Value, 2> key = {Value(nTestNumber), Value(nPart)};
  const std::optional<RowId> found =
      db.FirstRow("TestVolumes", "TV_TestsID = ? AND TV_Part = ?", key);
  const bool in_use = catalogue.colObjTV.At(nPosition, nPart).ReagentVol() != 0;
  if (found && !in_use) {
    db.DeleteRow("TestVolumes", *found);
  } else if (found) {
    RowEdit row = RowEdit::Existing("TestVolumes", *found);
    WriteTestVolumeFields(db, row, catalogue.colObjTV, nPosition, nPart);
  } else if (in_use) {
    RowEdit row = RowEdit::NewRow("TestVolumes");
    row.Set("TV_TestsID", Value(nTestNumber));
    row.Set("TV_Part", Value(nPart));
    WriteTestVolumeFields(db, row, catalogue.colObjTV, nPosition, nPart);
  }
}

// The normal range: added when missing; an existing row takes the assay's
// limits only in a "QVR" run (an "INSTALL" keeps what the site has set), and
// never changes its description or operators.
void WriteNormalRange(Database& db, const Catalogue& catalogue, std::int16_t nPosition,
                      std::int16_t nTestNumber) {
  const Assay& assay = catalogue.colAssay.Item(nPosition);
  const std::array<Value, 2> key = {Value(nTestNumber), Value(kNormalRange)};
  const std::optional<RowId> found =
      db.FirstRow("TestRanges", "TR_TestsID = ? AND TR_RangeNum = ?", key);
  if (!found) {
    RowEdit row = RowEdit::NewRow("TestRanges");
    row.Set("TR_TestsID", Value(nTestNumber));
    row.Set("TR_RangeNum", Value(kNormalRange));
    row.Set("TR_Low", Value(assay.NormalLow()));
    row.Set("TR_High", Value(assay.NormalHigh()));
    row.Set("TR_Desc", Value("NORMAL"));
    row.Set("TR_LowOperator", Value(std::int16_t{0}));
    row.Set("TR_HighOperator", Value(std::int16_t{0}));
    row.Update(db);
  } else if (catalogue.sRunKeyword == "QVR") {
    RowEdit row = RowEdit::Existing("TestRanges", *found);
    row.Set("TR_Low", Value(assay.NormalLow()));
    row.Set("TR_High", Value(assay.NormalHigh()));
    row.Update(db);
  }
}

}  // namespace

void AddModifyAssay(Database& db, const Catalogue& catalogue, std::int16_t nPosition,
                    std::int16_t nTestNumber) {
  WriteTestRow(db, catalogue, nPosition, nTestNumber);
  for (std::int16_t nPart = 0; nPart < TestVolumeTable::kParts; ++nPart) {
    WriteVolumeRow(db, catalogue, nPosition, nTestNumber, nPart);
  }
  WriteNormalRange(db, catalogue, nPosition, nTestNumber);
}

}  // namespace catalog_sync::db
