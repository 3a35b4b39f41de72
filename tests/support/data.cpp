// The analyser's data for the tests: databases and catalogues.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>

#include "catalog_sync/records/file_manager.h"
#include "tests/support/catalog.h"
#include "tests/support/databases.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace testing_support {

using platform::Value;
using platform::engine::Database;

namespace {

std::string CliOutput(const std::string& path, const std::string& sql) {
  const RunResult run = Sqlite3(path, sql);
  EXPECT_EQ(run.exit_status, 0) << sql << ": " << run.err;
  return run.out;
}

}  // namespace

std::string SampleDataSql() {
  return ExampleFile("analyser-sample-data.sql");
}

Database CreateAnalyserDatabase(const std::string& path, std::string_view data_sql,
                                std::pair<std::string_view, std::string_view> rewrite) {
  std::string schema = ExampleFile("analyser-schema.sql");
  const std::size_t at = rewrite.first.empty() ? std::string::npos : schema.find(rewrite.first);
  EXPECT_TRUE(rewrite.first.empty() || at != std::string::npos) << rewrite.first;
  if (at != std::string::npos) schema.replace(at, rewrite.first.size(), rewrite.second);
  Database db = Database::Create(path);
  db.Exec(schema);
  if (!data_sql.empty()) db.Exec(data_sql);
  return db;
}

std::string ExistingTestsSql(int first, int count) {
  std::string sql = R"(WITH RECURSIVE n(i) AS (SELECT @F UNION ALL SELECT i + 1 FROM n WHERE i < @L)
INSERT INTO Tests (Tests_ID, Tests_Name, Tests_FullName, Tests_DefUnits, Tests_ReportingUnits,
  Tests_Formula, Tests_Active)
  SELECT i, 'T' || i, 'Existing test ' || i, 'mg/dL', 'mg/dL', 1, -1 FROM n;
INSERT INTO TestVolumes (TV_TestsID, TV_Part, TV_ReagentVol)
  SELECT Tests_ID, 0, 200 FROM Tests WHERE Tests_ID >= @F;
INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc)
  SELECT Tests_ID, 1, 10, 20, 'NORMAL' FROM Tests WHERE Tests_ID >= @F;
INSERT INTO Kits (Kits_TestsID, Kits_LotNumber)
  SELECT Tests_ID, 'LOT' FROM Tests WHERE Tests_ID >= @F;)";
  for (std::size_t at; (at = sql.find('@')) != std::string::npos;) {
    sql.replace(at, 2, std::to_string(sql[at + 1] == 'F' ? first : first + count - 1));
  }
  return sql;
}

Value QueryValue(Database& db, std::string_view sql) {
  const platform::engine::Rows rows = db.Query(sql);
  const bool one = rows.rows.size() == 1 && rows.rows[0].size() == 1;
  EXPECT_TRUE(one) << "not one value: " << sql;
  return one ? rows.rows[0][0] : Value::Null();
}

Value QueryValue(const std::string& path, std::string_view sql) {
  Database db = Database::Open(path);
  return QueryValue(db, sql);
}

std::int64_t QueryCount(Database& db, std::string_view sql) {
  return QueryValue(db, sql).ToLong();
}

std::int64_t QueryCount(const std::string& path, std::string_view sql) {
  return QueryValue(path, sql).ToLong();
}

std::string DumpRows(Database& db, const std::string& sql) {
  std::string text;
  for (const auto& row : db.Query(sql).rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      text += (i ? "|" : "") + (row[i].IsNull() ? std::string("NULL") : row[i].ToText());
    }
    text += "\n";
  }
  return text;
}

std::string DumpDatabase(const std::string& path) {
  Database db = Database::Open(path);
  std::string dump;
  const auto add_rows = [&](const std::string& sql) {
    for (const std::vector<Value>& row : db.Query(sql).rows) {
      for (const Value& field : row) dump += field.Describe() + "|";
      dump += "\n";
    }
  };
  add_rows("SELECT type, name, sql FROM sqlite_master ORDER BY 1, 2");
  for (const std::vector<Value>& table :
       db.Query("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name").rows) {
    dump += "table " + table[0].text() + "\n";
    add_rows("SELECT * FROM " + platform::engine::QuoteIdentifier(table[0].text()) +
             " ORDER BY rowid");
  }
  return dump;
}

void AddFiller(const std::string& path) {
  Database::Open(path).Exec(
      "CREATE TABLE Filler (Note MEMO);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
      "INSERT INTO Filler SELECT 'ROW-' || i || '-' || hex(randomblob(100)) FROM n");
}

void LeaveHotJournal(const std::string& path) {
  AddFiller(path);
  const std::string committed = ReadFile(path);
  std::optional<Database> killed;  // stays open in the child
  RunInKilledChild([&] {
    killed.emplace(Database::Open(path));
    killed->Exec("PRAGMA cache_size = 1; BEGIN; UPDATE Filler SET Note = 'HALF-WRITTEN';");
  });
  ASSERT_TRUE(Exists(path + "-journal")) << "no hot journal was left";
  ASSERT_FALSE(ReadFile(path) == committed) << "the database file was not half written";
}

void DamageDatabase(const std::string& path, Damage damage, const std::string& table) {
  if (damage == Damage::kTruncated) {
    // Free pages at the end would be cut without harm: none are left.
    CliOutput(path, "VACUUM");
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 1000);
    return;
  }
  // The root page's header, after the file header on page 1.
  const std::size_t header = std::stoul(
      CliOutput(path,
                "SELECT (rootpage - 1) * page_size + (rootpage = 1) * 100 FROM sqlite_schema, "
                "pragma_page_size WHERE name = '" +
                    table + "'"));
  std::string bytes = ReadFile(path);
  ASSERT_LT(header + 5, bytes.size());
  ASSERT_EQ(static_cast<unsigned char>(bytes[header]), 0x0D) << table << ": no leaf table page";
  const unsigned cells = static_cast<unsigned char>(bytes[header + 3]) << 8 |
                         static_cast<unsigned char>(bytes[header + 4]);
  ASSERT_GE(cells, 2u) << table;
  bytes[header + 3] = static_cast<char>((cells - 1) >> 8);
  bytes[header + 4] = static_cast<char>((cells - 1) & 0xFF);
  WriteFile(path, bytes);
}

std::string QuickCheckOutput(const std::string& path) {
  return CliOutput(path, "PRAGMA quick_check");
}

Catalog SampleCatalog(std::int16_t n, const std::function<void(std::int16_t i, Assay&)>& adjust) {
  Catalog c;
  c.volumes.Dimension(n);
  for (std::int16_t i = 1; i <= n; ++i) {
    const std::string tag = std::to_string(i);
    Assay a;
    a.SetNumOfRepeatTests(-100000 - i);
    a.SetP5(i * 0.1);
    a.SetP6(i % 2 ? -0.0 : 1e-300);
    a.SetMode(i % 3 == 0 ? "delete" : i % 2 ? " add " : "Modify");
    a.SetTestNumber(static_cast<std::int16_t>(i % 2 ? 100 + i : -i));
    a.SetTestName("T" + tag);
    a.SetTestFullName("Test n\u00b0 " + tag + " \u00e9");
    a.SetDefaultUnits("\u00b5mol/L");
    a.SetAlternateUnits("mg/dL" + tag);
    a.SetConversionFactor(1.0 / (i + 2));
    a.SetCalibrationFreq(i * 7);
    a.SetAssayLow(-i);
    a.SetAssayMax(std::numeric_limits<double>::max() / i);
    a.SetNormalLow(3.9 + i);
    a.SetNormalHigh(6.1 + i);
    a.SetFormula(static_cast<std::int16_t>(-32768 + i));
    a.SetNumOfReagents(static_cast<std::int16_t>(1 + i % 3));
    a.SetRoundOffMethod(static_cast<std::int16_t>(32767 - i));
    a.SetLowCV(i * 0.5);
    a.SetHighCV(i * 1.5);
    a.SetColor(0xFF0000 + i);
    a.SetDilutionRequired(i % 2);
    a.SetDilutionFactor(i + 10);
    a.SetDiluentID(-i);
    a.SetDiluteControl(Value(i % 2 == 0));
    a.SetNumOfCalibrators(static_cast<std::uint8_t>(255 - i % 200));
    a.SetNumOfReplicates(static_cast<std::uint8_t>(i % 256));
    a.SetCycles(static_cast<std::uint8_t>(i % 7 + 1));
    a.SetMaxSlope(1e10 * i);
    a.SetMinSlope(-1e-10 * i);
    a.SetActive(Value(i % 2 == 1));
    a.SetSampleVol(i % 2 ? 2.5f + static_cast<float>(i) : std::numeric_limits<float>::denorm_min());
    a.SetSampleVolKey(i * 3);
    if (adjust) adjust(i, a);
    c.assays.Add(a);
    for (std::int32_t part = 0; part < TestVolumeTable::kParts; ++part) {
      TestVolume v;
      v.SetTestsID(9999);
      v.SetPart(7);
      v.SetReagentVol(part == 2 ? 0 : i * 10 + part);
      v.SetRegentVolKey(i * 100 + part);
      v.SetWaterToAssayB(-i);
      v.SetInitWater(i + part);
      v.SetWaterToAssayA(2147483647 - i);
      v.SetWashFill(-2147483647 - 1 + i);
      v.SetLastWash(part);
      c.volumes.Set(i, part, v);
    }
  }
  return c;
}

void ExpectSameCatalog(const Catalog& expected, const Catalog& actual, bool with_derived) {
  ASSERT_EQ(expected.assays.Count(), actual.assays.Count());
  ASSERT_EQ(expected.volumes.Size(), actual.volumes.Size());
  for (std::int32_t i = 1; i <= expected.assays.Count(); ++i) {
    for (const catalog_sync::AssayProperty& p : catalog_sync::AssayProperties()) {
      const Value want = p.get(expected.assays.Item(i));
      const Value got = p.get(actual.assays.Item(i));
      EXPECT_TRUE(want.SameAs(got))
          << "assay " << i << " " << p.name << ": " << want.Describe() << " vs " << got.Describe();
    }
    for (std::int32_t part = 0; part < TestVolumeTable::kParts; ++part) {
      for (const auto& p : catalog_sync::TestVolumeProperties()) {
        if (!with_derived && p.derivation != catalog_sync::Derivation::kStored) continue;
        const Value want = p.get(expected.volumes.At(i, part));
        const Value got = p.get(actual.volumes.At(i, part));
        EXPECT_TRUE(want.SameAs(got)) << "volume (" << i << ", " << part << ") " << p.name << ": "
                                      << want.Describe() << " vs " << got.Describe();
      }
    }
  }
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

Catalog CatalogBuilder::Build() const {
  Catalog c;
  if (assays_.empty()) return c;
  c.volumes.Dimension(static_cast<std::int16_t>(assays_.size()));
  for (std::int32_t i = 1; i <= static_cast<std::int32_t>(assays_.size()); ++i) {
    c.assays.Add(assays_[i - 1]);
    for (std::int32_t part = 0; part < 3; ++part) c.volumes.Set(i, part, volumes_[i - 1][part]);
  }
  return c;
}

void CatalogBuilder::WritePackage(const std::string& path) const {
  const Catalog c = Build();
  catalog_sync::FileManager(path).WriteProperties(c.assays, c.volumes);
}

}  // namespace testing_support
