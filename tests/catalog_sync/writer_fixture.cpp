#include "tests/catalog_sync/writer_fixture.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace catalog_sync::testing {

using platform::Value;
using platform::engine::Database;

void CreateAnalyserDatabase(const std::string& path, std::string_view data_sql,
                            std::pair<std::string_view, std::string_view> rewrite) {
  std::string schema =
      testing_support::ReadFile(testing_support::SourceDir() + "/examples/analyser-schema.sql");
  if (!rewrite.first.empty()) {
    const std::size_t at = schema.find(rewrite.first);
    ASSERT_NE(at, std::string::npos) << rewrite.first;
    schema.replace(at, rewrite.first.size(), rewrite.second);
  }
  Database db = Database::Create(path);
  db.Exec(schema);
  if (!data_sql.empty()) db.Exec(data_sql);
}

std::string SampleDataSql() {
  return testing_support::ReadFile(testing_support::SourceDir() +
                                   "/examples/analyser-sample-data.sql");
}

Assay MakeAssay(std::int16_t nTestNumber, std::string_view name, std::string_view mode) {
  const int n = nTestNumber;
  Assay a;
  a.SetTestNumber(nTestNumber);
  a.SetTestName(std::string(name));
  a.SetMode(mode);
  a.SetTestFullName("Full name of " + std::string(name));
  a.SetDefaultUnits("mg/dL");
  a.SetAlternateUnits("mmol/L");
  a.SetConversionFactor(0.05 + n / 1000.0);
  a.SetCalibrationFreq(7 + n);
  a.SetAssayLow(n / 10.0);
  a.SetAssayMax(500 + n);
  a.SetNormalLow(10 + n);
  a.SetNormalHigh(90 + n);
  a.SetFormula(static_cast<std::int16_t>(1 + n % 5));
  a.SetNumOfReagents(2);
  a.SetRoundOffMethod(static_cast<std::int16_t>(n % 4));
  a.SetLowCV(1.5);
  a.SetHighCV(4.5 + n);
  a.SetColor(0x00FF00 + n);
  a.SetDilutionRequired(n % 2);
  a.SetDilutionFactor(3 + n);
  a.SetDiluentID(20 + n);
  a.SetDiluteControl(Value(n % 2 == 0));
  a.SetNumOfCalibrators(static_cast<std::uint8_t>(2 + n % 5));
  a.SetNumOfReplicates(3);
  a.SetCycles(static_cast<std::uint8_t>(10 + n % 20));
  a.SetMaxSlope(2.25);
  a.SetMinSlope(-0.75);
  a.SetActive(Value(true));
  a.SetSampleVol(2.5f + static_cast<float>(n % 3));
  a.SetSampleVolKey(40 + n);
  a.SetP5(0.125 * n);
  a.SetP6(-0.5 * n);
  a.SetNumOfRepeatTests(1 + n % 3);
  return a;
}

TestVolume MakeVolume(std::int32_t reagent_vol) {
  TestVolume v;
  v.SetReagentVol(reagent_vol);
  v.SetRegentVolKey(reagent_vol / 10 + 1);
  v.SetWaterToAssayB(reagent_vol + 1);
  v.SetInitWater(reagent_vol + 2);
  v.SetWaterToAssayA(reagent_vol + 3);
  v.SetWashFill(reagent_vol + 4);
  v.SetLastWash(reagent_vol + 5);
  return v;
}

Assay& CatalogBuilder::Add(std::int16_t nTestNumber, std::string_view name, std::string_view mode,
                           std::array<std::int32_t, 3> reagent_vols) {
  std::array<TestVolume, 3>& parts = volumes_.emplace_back();
  for (std::size_t part = 0; part < parts.size(); ++part) {
    parts[part] = MakeVolume(reagent_vols[part]);
    parts[part].SetTestsID(nTestNumber);
    parts[part].SetPart(static_cast<std::uint8_t>(part));
  }
  return assays_.emplace_back(MakeAssay(nTestNumber, name, mode));
}

TestVolume& CatalogBuilder::Volume(std::int32_t position, std::int32_t part) {
  return volumes_.at(static_cast<std::size_t>(position - 1)).at(static_cast<std::size_t>(part));
}

Catalog CatalogBuilder::Build() const {
  Catalog c;
  if (assays_.empty()) return c;
  c.volumes.Dimension(static_cast<std::int16_t>(assays_.size()));
  for (std::size_t i = 0; i < assays_.size(); ++i) {
    c.assays.Add(assays_[i]);
    for (std::int32_t part = 0; part < 3; ++part) {
      c.volumes.Set(static_cast<std::int32_t>(i + 1), part,
                    volumes_[i][static_cast<std::size_t>(part)]);
    }
  }
  return c;
}

Value QueryValue(Database& db, std::string_view sql) {
  const platform::engine::Rows rows = db.Query(sql);
  if (rows.rows.size() != 1 || rows.rows[0].size() != 1) {
    ADD_FAILURE() << "not one value: " << sql;
    return Value::Null();
  }
  return rows.rows[0][0];
}

std::int64_t QueryCount(Database& db, std::string_view sql) {
  return QueryValue(db, sql).ToLong();
}

std::string ExistingTestsSql(int first, int count) {
  const std::string from = std::to_string(first), to = std::to_string(first + count - 1);
  return "WITH RECURSIVE n(i) AS (SELECT " + from + " UNION ALL SELECT i + 1 FROM n WHERE i < " +
         to +
         ") INSERT INTO Tests (Tests_ID, Tests_Name, Tests_FullName, Tests_DefUnits, "
         "Tests_ReportingUnits, Tests_Formula, Tests_Active) "
         "SELECT i, 'T' || i, 'Existing test ' || i, 'mg/dL', 'mg/dL', 1, -1 FROM n;"
         "INSERT INTO TestVolumes (TV_TestsID, TV_Part, TV_ReagentVol) "
         "SELECT Tests_ID, 0, 200 FROM Tests WHERE Tests_ID >= " +
         from +
         ";INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc) "
         "SELECT Tests_ID, 1, 10, 20, 'NORMAL' FROM Tests WHERE Tests_ID >= " +
         from +
         ";INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) SELECT Tests_ID, 'LOT' FROM Tests "
         "WHERE Tests_ID >= " +
         from + ";";
}

std::string DumpDatabase(const std::string& path) {
  Database db = Database::Open(path);
  std::string dump;
  const platform::engine::Rows tables =
      db.Query("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
  for (const std::vector<Value>& table : tables.rows) {
    dump += "table " + table[0].text() + "\n";
    const std::string select =
        "SELECT * FROM " + platform::engine::QuoteIdentifier(table[0].text()) + " ORDER BY rowid";
    for (const std::vector<Value>& row : db.Query(select).rows) {
      for (const Value& field : row) dump += field.Describe() + "|";
      dump += "\n";
    }
  }
  return dump;
}

}  // namespace catalog_sync::testing
