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

#include "catalog_sync/records/file_manager.h"
#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/engine/database.h"

namespace {

using catalog_sync::Assay;
using catalog_sync::TestVolume;
using platform::Value;

Assay BenchAssay(std::int16_t number) {
  const int n = number;
  Assay a;
  a.SetMode("ADD");
  a.SetTestNumber(number);
  a.SetTestName("T" + std::to_string(n));
  a.SetTestFullName("Benchmark test number " + std::to_string(n));
  a.SetDefaultUnits("mg/dL");
  a.SetAlternateUnits("mmol/L");
  a.SetConversionFactor(0.0555);
  a.SetCalibrationFreq(30);
  a.SetAssayLow(n % 7);
  a.SetAssayMax(500 + n % 100);
  a.SetNormalLow(70);
  a.SetNormalHigh(105 + n % 10);
  a.SetFormula(static_cast<std::int16_t>(1 + n % 4));
  a.SetNumOfReagents(static_cast<std::int16_t>(1 + n % 3));
  a.SetRoundOffMethod(2);
  a.SetLowCV(0.5);
  a.SetHighCV(5);
  a.SetColor(0xFF0000 + n);
  a.SetDilutionRequired(n % 2);
  a.SetDilutionFactor(n % 5);
  a.SetDiluentID(n % 3);
  a.SetDiluteControl(Value(n % 2 == 0));
  a.SetNumOfCalibrators(2);
  a.SetNumOfReplicates(2);
  a.SetCycles(10);
  a.SetMaxSlope(1.5);
  a.SetMinSlope(0.25);
  a.SetActive(Value(true));
  a.SetSampleVol(2.5f);
  a.SetSampleVolKey(1);
  a.SetP5(0.125);
  a.SetP6(0.5);
  a.SetNumOfRepeatTests(1);
  return a;
}

TestVolume BenchVolume(std::int16_t number, std::int32_t part, bool in_use) {
  TestVolume v;
  v.SetTestsID(number);
  v.SetPart(static_cast<std::uint8_t>(part));
  v.SetReagentVol(in_use ? 100 + 10 * part : 0);
  v.SetRegentVolKey(11 + 10 * part);
  v.SetWaterToAssayB(20);
  v.SetInitWater(15);
  v.SetWaterToAssayA(25);
  v.SetWashFill(120);
  v.SetLastWash(80);
  return v;
}

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

void WritePackage(const std::string& path, int count) {
  catalog_sync::AssayCollection colAssay;
  catalog_sync::TestVolumeTable colObjTV;
  colObjTV.Dimension(static_cast<std::int16_t>(count));
  for (int i = 1; i <= count; ++i) {
    const auto number = static_cast<std::int16_t>(i);
    colAssay.Add(BenchAssay(number));
    for (std::int32_t part = 0; part < catalog_sync::TestVolumeTable::kParts; ++part) {
      colObjTV.Set(i, part, BenchVolume(number, part, part <= i % 3));
    }
  }
  catalog_sync::FileManager(path).WriteProperties(colAssay, colObjTV);
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
    WritePackage(argv[3], count);
  } catch (const platform::Error& e) {
    std::cerr << "catalog_install_fixture: " << e.number() << " " << e.description() << "\n";
    return 1;
  }
  return 0;
}
