// Analyser databases and catalogues for the writer, dispatch and program
// tests.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "catalog_sync/records/assay.h"
#include "catalog_sync/records/test_volume.h"
#include "platform/core/value.h"
#include "platform/engine/database.h"
#include "tests/catalog_sync/catalog_fixture.h"

namespace catalog_sync::testing {

// Creates the database file `path` from examples/analyser-schema.sql, with
// `rewrite` applied to the schema text first (e.g. {"Tests_Formula SHORT",
// "Tests_Formula BYTE"}) when given, and the rows of `data_sql` when given.
void CreateAnalyserDatabase(const std::string& path, std::string_view data_sql = {},
                            std::pair<std::string_view, std::string_view> rewrite = {});

// examples/analyser-sample-data.sql: tests 1 GLU, 2 CHOL, 3 ALT with their
// volumes, ranges and kits.
std::string SampleDataSql();

// An assay whose every property has a value of its own (derived from the
// test number) that fits the example schema.
Assay MakeAssay(std::int16_t nTestNumber, std::string_view name, std::string_view mode);

// The volumes of one part: ReagentVol as given, the others derived from it.
TestVolume MakeVolume(std::int32_t reagent_vol);

// Builds a catalogue assay by assay; references stay valid until Build.
class CatalogBuilder {
 public:
  // An assay from MakeAssay with part volumes of the given ReagentVol.
  Assay& Add(std::int16_t nTestNumber, std::string_view name, std::string_view mode,
             std::array<std::int32_t, 3> reagent_vols = {100, 0, 0});
  TestVolume& Volume(std::int32_t position, std::int32_t part);
  Catalog Build() const;

 private:
  std::deque<Assay> assays_;
  std::deque<std::array<TestVolume, 3>> volumes_;
};

// The single value of a one-row, one-column query.
platform::Value QueryValue(platform::engine::Database& db, std::string_view sql);
std::int64_t QueryCount(platform::engine::Database& db, std::string_view sql);

// SQL adding tests first..first+count-1 named T<number>, each with volumes,
// a normal range and a kit, as a site's catalogue has them.
std::string ExistingTestsSql(int first, int count);

// Every table of the database file, by name, with its rows in rowid order as
// text: equal dumps mean equal contents.
std::string DumpDatabase(const std::string& path);

}  // namespace catalog_sync::testing
