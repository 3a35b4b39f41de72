// catalog_install_fixture <schema.sql> <database> <package> <existing> <new>
//
// Writes the analyser database <database> from <schema.sql> holding
// <existing> tests (numbers -1..-existing, each with one or two reagent
// parts, a normal range and a kit), and the package <package> with <new>
// assays, all "ADD", of the test numbers 1..new, with one to three parts.
// Test numbers are 16-bit: the existing tests take the negative ones so
// that 20,000 new assays can meet 20,000 existing tests.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include "bench/catalog_install/bench_catalogue.h"
#include "catalog_sync/records/file_manager.h"
#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/engine/database.h"

namespace {

void WriteDatabase(const std::string& schema, const std::string& path, int existing) {
  platform::engine::Database db = platform::engine::Database::Create(path);
  db.Exec(platform::ReadWholeFile(schema));
  const std::string n = std::to_string(existing);
  db.Exec("WITH RECURSIVE n(i) AS (SELECT 1 WHERE " + n +
          " > 0 UNION ALL SELECT i + 1 FROM n WHERE i < " + n +
          ") "
          "INSERT INTO Tests (Tests_ID, Tests_Name, Tests_FullName, Tests_DefUnits, "
          "Tests_ReportingUnits, Tests_Formula, Tests_Active) "
          "SELECT -i, 'E' || i, 'Existing test ' || i, 'mg/dL', 'mg/dL', 1, -1 FROM n;"
          "INSERT INTO TestVolumes (TV_TestsID, TV_Part, TV_ReagentVol) "
          "SELECT Tests_ID, 0, 200 FROM Tests;"
          "INSERT INTO TestVolumes (TV_TestsID, TV_Part, TV_ReagentVol) "
          "SELECT Tests_ID, 1, 50 FROM Tests WHERE Tests_ID % 2 = 0;"
          "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc) "
          "SELECT Tests_ID, 1, 10, 20, 'NORMAL' FROM Tests;"
          "INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) SELECT Tests_ID, 'LOT' FROM Tests;");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::cerr << "usage: catalog_install_fixture <schema.sql> <database> <package> <existing> "
                 "<new>\n";
    return 2;
  }
  const int existing = std::atoi(argv[4]);
  const int count = std::atoi(argv[5]);
  if (existing < 0 || existing > -INT16_MIN || count < 1 || count > 32766) {
    std::cerr << "catalog_install_fixture: at most 32,768 existing tests and 1 to 32,766 assays\n";
    return 2;
  }
  try {
    WriteDatabase(argv[1], argv[2], existing);
    catalog_sync::AssayCollection colAssay;
    catalog_sync::TestVolumeTable colObjTV;
    bench::BuildCatalogue(count, colAssay, colObjTV);
    catalog_sync::FileManager(argv[3]).WriteProperties(colAssay, colObjTV);
  } catch (const platform::Error& e) {
    std::cerr << "catalog_install_fixture: " << e.number() << " " << e.description() << "\n";
    return 1;
  }
  return 0;
}
