#include <array>

#include "catalog_sync/db/assay_writer.h"

namespace catalog_sync::db {

namespace {

using platform::Value;

struct DeletionSource {
  std::string_view table;  // the table whose rows the source selects
  std::string_view sql;    // ?1 the test number, ?2 the name where guarded
  bool guarded_by_name;
};

// In this order: the range and volume rows are found through the Tests row
// (its name is the guard), so that row goes last. Kits have no guard.
constexpr std::array<DeletionSource, 4> kSources = {{
    {"TestRanges",
     "SELECT TestRanges.* FROM Tests INNER JOIN TestRanges ON Tests.Tests_ID = "
     "TestRanges.TR_TestsID WHERE (((TestRanges.TR_TestsID)= ? ) AND "
     "((UCASE(Tests.Tests_Name))= ? ));",
     true},
    {"TestVolumes",
     "SELECT TestVolumes.* FROM Tests INNER JOIN TestVolumes ON Tests.Tests_ID = "
     "TestVolumes.TV_TestsID WHERE (((TestVolumes.TV_TestsID)= ? ) AND "
     "(UCASE((Tests.Tests_Name))= ? ));",
     true},
    {"Kits", "Select * From Kits Where Kits_TestsID = ?", false},
    {"Tests", "Select * From Tests Where Tests_ID = ? AND UCASE(Tests_Name) = ?", true},
}};

}  // namespace

void DeleteAssay(platform::engine::Database& db, std::int16_t nTestNumber,
                 const std::string& sTestName) {
  const std::array<Value, 2> params = {Value(nTestNumber), Value(sTestName)};
  for (const DeletionSource& source : kSources) {
    const std::span<const Value> bound(params.data(), source.guarded_by_name ? 2 : 1);
    // The source's rows are fixed when it is opened (a keyset), then deleted.
    for (platform::engine::RowId row : db.RowsOfSource(source.table, source.sql, bound)) {
      db.DeleteRow(source.table, row);
    }
  }
}

}  // namespace catalog_sync::db
