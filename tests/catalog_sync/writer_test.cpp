// The assay database writer on real database files made from the example
// schema: deletion with its name guard, add and modify of the test row, the
// reagent part rows, the normal range, and values that a column refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "catalog_sync/db/assay_writer.h"
#include "catalog_sync/db/row_edit.h"
#include "catalog_sync/db/test_fields.h"
#include "catalog_sync/records/record_properties.h"
#include "platform/core/error.h"
#include "platform/engine/engine_error.h"
#include "tests/support/catalog.h"
#include "tests/support/databases.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace catalog_sync {
namespace {

using platform::Value;
using platform::engine::Database;
using testing_support::Catalog;
using testing_support::CatalogBuilder;
using testing_support::QueryCount;
using testing_support::QueryValue;

class WriterTest : public ::testing::Test {
 protected:
  // A new database file, in place of the one before.
  void Open(std::string_view data_sql = {},
            std::pair<std::string_view, std::string_view> rewrite = {}) {
    db_.reset();
    std::remove(dir_.Sub("Corvista1k.mdb").c_str());
    testing_support::CreateAnalyserDatabase(dir_.Sub("Corvista1k.mdb"), data_sql, rewrite);
    db_.emplace(Database::Open(dir_.Sub("Corvista1k.mdb")));
  }
  Database& db() { return *db_; }
  std::int64_t Count(const std::string& sql) { return QueryCount(db(), sql); }
  Value Field(const std::string& sql) { return QueryValue(db(), sql); }
  std::string Text(const std::string& sql) { return Field(sql).ToText(); }
  // The volume rows `where` selects as "TV_ID:TV_Part:TV_ReagentVol ...".
  std::string Volumes(const std::string& where) {
    return Text(
        "SELECT group_concat(r, ' ') FROM (SELECT TV_ID || ':' || TV_Part || ':' || "
        "TV_ReagentVol AS r FROM TestVolumes WHERE " +
        where + " ORDER BY TV_ID)");
  }
  // The rows of the tests `w` selects ("= 3") in Tests, TestRanges,
  // TestVolumes and Kits: e.g. "1 1 2 2".
  std::string RowsOf(const std::string& w) {
    return Text("SELECT (SELECT COUNT(*) FROM Tests WHERE Tests_ID " + w +
                ") || ' ' || (SELECT COUNT(*) FROM TestRanges WHERE TR_TestsID " + w +
                ") || ' ' || (SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID " + w +
                ") || ' ' || (SELECT COUNT(*) FROM Kits WHERE Kits_TestsID " + w + ")");
  }

  void AddModify(const Catalog& c, std::int16_t position, std::string_view keyword = "INSTALL") {
    const db::Catalogue catalogue{c.assays, c.volumes, keyword};
    db::AddModifyAssay(db(), catalogue, position, c.assays.Item(position).TestNumber());
  }

  testing_support::TempDir dir_;
  std::optional<Database> db_;
};

// --- Deletion -------------------------------------------------------------

// The name, as the dispatch passes it (trimmed, upper-cased), guards the
// test's rows, every range of it included, but not its kits.
TEST_F(WriterTest, DeleteNameGuardsTheTestRowsButNotTheKits) {
  const struct {
    const char* stored_name;
    const char* given_name;
    bool removed;
  } cases[] = {{"ALT", "ALT", true},        {"Alt", "ALT", true},
               {"AST", "ALT", false},       {"ALT", "AL", false},
               {"O''NEIL", "O'NEIL", true}, {"ALT", "X' OR '1'='1", false},
               {"ALT", "ALT' --", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given_name);
    Open(testing_support::SampleDataSql());
    db().Exec("UPDATE Tests SET Tests_Name = '" + std::string(c.stored_name) +
              "' WHERE Tests_ID = 3;"
              "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc) "
              "VALUES (3, 2, 1, 2, 'PANIC'), (3, 1, 5, 6, 'NORMAL')");
    db::DeleteAssay(db(), 3, c.given_name);
    EXPECT_EQ(RowsOf("= 3"), c.removed ? "0 0 0 0" : "1 3 2 0");
    EXPECT_EQ(RowsOf("<> 3"), "2 2 2 2");  // the other tests keep every row
  }
}

TEST_F(WriterTest, DeleteOfATestWithoutRowsChangesNothing) {
  Open(testing_support::SampleDataSql());
  const std::string before = testing_support::DumpDatabase(dir_.Sub("Corvista1k.mdb"));
  db::DeleteAssay(db(), 44, "GLU");
  EXPECT_EQ(testing_support::DumpDatabase(dir_.Sub("Corvista1k.mdb")), before);
}

// --- The test row ---------------------------------------------------------

// The 29 columns against the assay's properties, each compared as the
// column's declared type stores it (a flag as -1 or 0).
void ExpectTestRowHolds(Database& db, std::int16_t id, const Assay& a) {
  // clang-format off
  const std::pair<const char*, const char*> columns[] = {
      {"Name", "TestName"}, {"FullName", "TestFullName"}, {"DefUnits", "DefaultUnits"},
      {"AltUnits", "AlternateUnits"}, {"ConvertUnitMultiplier", "ConversionFactor"},
      {"CalibrationFreq", "CalibrationFreq"}, {"AssayMin", "AssayLow"}, {"AssayMax", "AssayMax"},
      {"Formula", "Formula"}, {"NumReagents", "NumOfReagents"}, {"SigDigits", "RoundOffMethod"},
      {"CVLow", "LowCV"}, {"CVHigh", "HighCV"}, {"Color", "Color"},
      {"DiluentReq", "DilutionRequired"}, {"DilFactorID", "DilutionFactor"},
      {"DiluentID", "DiluentID"}, {"DiluteControl", "DiluteControl"},
      {"NumOfCalibrators", "NumOfCalibrators"}, {"NumOfReplicates", "NumOfReplicates"},
      {"Cycles", "Cycles"}, {"MaxSlope", "MaxSlope"}, {"MinSlope", "MinSlope"},
      {"Active", "Active"}, {"SampleVol", "SampleVol"}, {"SampleVolKey", "SampleVolKey"},
      {"P5", "P5"}, {"P6", "P6"}, {"NumOfRepeatTests", "NumOfRepeatTests"}};
  // clang-format on
  for (const auto& [column, property] : columns) {
    const Value stored = QueryValue(db, "SELECT Tests_" + std::string(column) +
                                            " FROM Tests WHERE Tests_ID = " + std::to_string(id));
    const Value want = AssayPropertyNamed(property).get(a);
    if (want.kind() == platform::ValueKind::kText) {
      EXPECT_EQ(stored.ToText(), want.text()) << column;
    } else {
      const double number = want.kind() == platform::ValueKind::kBoolean ? (want.boolean() ? -1 : 0)
                                                                         : want.ToDouble();
      EXPECT_EQ(stored.ToDouble(), number) << column;
    }
  }
}

TEST_F(WriterTest, MissingTestIsAddedWithItsReportingUnitsRangeAndPartsInUse) {
  Open();  // an empty Tests table
  CatalogBuilder b;
  b.Add(12, "  Glu ", "MODIFY", {200, 0, 75}).SetDefaultUnits("g/L");
  const Catalog c = b.Build();
  AddModify(c, 1);
  ExpectTestRowHolds(db(), 12, c.assays.Item(1));
  // The name with its spaces; the reporting units from the default units.
  EXPECT_EQ(Text("SELECT Tests_Name || '|' || Tests_ReportingUnits FROM Tests"), "  Glu |g/L");
  EXPECT_EQ(Volumes("1"), "1:0:200 2:2:75");
  EXPECT_EQ(Count("SELECT TV_LastWash FROM TestVolumes WHERE TV_Part = 2"), 80);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestRanges WHERE TR_TestsID = 12 AND TR_RangeNum = 1 "
                  "AND TR_Low = 22 AND TR_High = 102 AND TR_Desc = 'NORMAL' "
                  "AND TR_LowOperator = 0 AND TR_HighOperator = 0"),
            1);
}

TEST_F(WriterTest, ExistingTestIsOverwrittenAndKeepsItsReportingUnitsAndOtherColumns) {
  Open(testing_support::SampleDataSql());
  db().Exec(
      "UPDATE Tests SET Tests_ReportingUnits = 'mmol/L', Tests_Comment = 'site note', "
      "Tests_LotCode = 'LOT00001' WHERE Tests_ID = 2");
  CatalogBuilder b;
  b.Add(2, "CHOL2", "ADD").SetDefaultUnits("g/L");
  const Catalog c = b.Build();
  AddModify(c, 1);
  ExpectTestRowHolds(db(), 2, c.assays.Item(1));
  EXPECT_EQ(Text("SELECT group_concat(Tests_Name || '|' || ifnull(Tests_ReportingUnits, '') || '|' "
                 "|| ifnull(Tests_Comment, '') || '|' || ifnull(Tests_LotCode, ''), ' / ') "
                 "FROM Tests"),
            "GLU|mg/dL|| / CHOL2|mmol/L|site note|LOT00001 / ALT|U/L||");
}

// --- Reagent parts ----------------------------------------------------------

TEST_F(WriterTest, PartsAreOverwrittenDeletedAndAddedByReagentVol) {
  Open(testing_support::SampleDataSql());  // test 3 has parts 0 and 1
  db().Exec("UPDATE TestVolumes SET TV_ID = 90 WHERE TV_TestsID = 3 AND TV_Part = 0");
  CatalogBuilder b;
  b.Add(3, "ALT", "MODIFY", {310, 0, 330});
  AddModify(b.Build(), 1);
  // Part 0: the same row, all seven columns from the record.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_ID = 90 AND TV_TestsID = 3 AND "
                  "TV_Part = 0 AND TV_ReagentVol = 310 AND TV_RegentVolKey = 32 AND "
                  "TV_WaterToAssayB = 311 AND TV_InitWater = 312 AND TV_WaterToAssayA = 313 "
                  "AND TV_WashFill = 314 AND TV_LastWash = 315"),
            1);
  EXPECT_EQ(Volumes("TV_TestsID = 3"), "90:0:310 91:2:330");  // part 1 deleted, 2 added
  EXPECT_EQ(Volumes("TV_TestsID <> 3"), "1:0:200 2:0:180");
}

TEST_F(WriterTest, OnlyTheFirstOfDuplicateVolumeAndRangeRowsIsTouched) {
  Open(testing_support::SampleDataSql());
  db().Exec(
      "INSERT INTO TestVolumes (TV_ID, TV_TestsID, TV_Part, TV_ReagentVol) VALUES "
      "(50, 1, 0, 999), (51, 1, 1, 11), (52, 1, 1, 12);"
      "INSERT INTO TestRanges (TR_ID, TR_TestsID, TR_RangeNum, TR_Low, TR_High) VALUES "
      "(60, 1, 1, -5, -6);");
  CatalogBuilder b;
  b.Add(1, "GLU", "MODIFY", {120, 0, 0});
  AddModify(b.Build(), 1, "QVR");
  // Part 0: the first row (the sample's) overwritten, the duplicate kept;
  // part 1 not in use: only its first row deleted.
  EXPECT_EQ(Volumes("TV_TestsID = 1"), "1:0:120 50:0:999 52:1:12");
  // The first normal range takes the limits, the duplicate keeps its own.
  EXPECT_EQ(Text("SELECT group_concat(TR_ID || ':' || TR_Low, ' ') FROM TestRanges "
                 "WHERE TR_TestsID = 1"),
            "1:11.0 60:-5.0");
}

// --- The normal range -------------------------------------------------------

// Only the limits of the existing normal range change, and only in a QVR
// run; its other columns and the other range stay.
TEST_F(WriterTest, ExistingNormalRangeTakesTheLimitsOnlyInAQvrRun) {
  for (const auto& [keyword, normal] :
       {std::pair{"INSTALL", "1 70.0 110.0"}, {"QVR", "1 11.0 91.0"}}) {
    SCOPED_TRACE(keyword);
    Open(testing_support::SampleDataSql());
    db().Exec(
        "UPDATE TestRanges SET TR_Desc = 'SITE', TR_LowOperator = 2, TR_HighOperator = 3 "
        "WHERE TR_TestsID = 1;"
        "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High) VALUES (1, 2, 1, 2);");
    CatalogBuilder b;
    b.Add(1, "GLU", "ADD");
    AddModify(b.Build(), 1, keyword);
    EXPECT_EQ(Text("SELECT group_concat(TR_RangeNum || ' ' || TR_Low || ' ' || TR_High || ' ' || "
                   "ifnull(TR_Desc, '') || ' ' || ifnull(TR_LowOperator, '') || ' ' || "
                   "ifnull(TR_HighOperator, ''), ' / ') FROM TestRanges WHERE TR_TestsID = 1"),
              std::string(normal) + " SITE 2 3 / 2 1.0 2.0   ");
  }
}

// --- Refused values ---------------------------------------------------------

// The failure of `f` with its details as "number table column value".
std::string FailureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    std::string what = std::to_string(e.number());
    for (const char* name : {"table", "column", "value"}) {
      for (const auto& [detail, value] : e.details()) {
        if (detail == name) what += " " + value;
      }
    }
    return what;
  }
  return "no failure";
}

TEST_F(WriterTest, ARefusedValueOrMissingVolumesFailTheAssay) {
  Open();
  CatalogBuilder b;
  b.Add(12, "ALBUMIN-PLUS", "ADD");  // Tests_Name is TEXT(10)
  EXPECT_EQ(FailureOf([&] { AddModify(b.Build(), 1); }), "3001 Tests Tests_Name \"ALBUMIN-PLUS\"");
  EXPECT_EQ(RowsOf(">= 0"), "0 0 0 0");
  // An assay beyond the volume table fails before its parts are written.
  Catalog c = b.Build();
  c.assays.Add(testing_support::MakeAssay(13, "CHOL", "ADD"));
  EXPECT_EQ(FailureOf([&] { AddModify(c, 2); }),
            std::to_string(platform::err::kSubscriptOutOfRange));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes"), 0);
}

TEST_F(WriterTest, FormulaOutOfTheColumnsRangeFailsTheAssay) {
  Open(testing_support::SampleDataSql(), {"Tests_Formula SHORT", "Tests_Formula BYTE"});
  CatalogBuilder b;
  b.Add(2, "CHOL", "MODIFY").SetFormula(300);
  EXPECT_EQ(FailureOf([&] { AddModify(b.Build(), 1); }), "3001 Tests Tests_Formula 300");
  EXPECT_EQ(Text("SELECT Tests_FullName FROM Tests WHERE Tests_ID = 2"), "Cholesterol");
}

}  // namespace
}  // namespace catalog_sync
