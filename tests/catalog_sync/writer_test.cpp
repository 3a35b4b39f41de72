// The assay database writer on real database files made from the example
// schema: deletion with its name guard, add and modify of the test row, the
// reagent part rows, the normal range, and values that a column refuses.
#include <gtest/gtest.h>

#include <string>

#include "catalog_sync/db/assay_writer.h"
#include "catalog_sync/db/row_edit.h"
#include "catalog_sync/db/test_fields.h"
#include "platform/core/error.h"
#include "platform/engine/engine_error.h"
#include "tests/catalog_sync/writer_fixture.h"
#include "tests/support/test_support.h"

namespace catalog_sync {
namespace {

using platform::Value;
using platform::engine::Database;
using testing::Catalog;
using testing::CatalogBuilder;
using testing::QueryCount;
using testing::QueryValue;

class WriterTest : public ::testing::Test {
 protected:
  void Open(std::string_view data_sql = {},
            std::pair<std::string_view, std::string_view> rewrite = {}) {
    testing::CreateAnalyserDatabase(dir_.Sub("Corvista1k.mdb"), data_sql, rewrite);
    db_.emplace(Database::Open(dir_.Sub("Corvista1k.mdb")));
  }
  Database& db() { return *db_; }
  std::int64_t Count(const std::string& sql) { return QueryCount(db(), sql); }
  Value Field(const std::string& sql) { return QueryValue(db(), sql); }

  void AddModify(const Catalog& c, std::int16_t position, std::string_view keyword = "INSTALL") {
    const db::Catalogue catalogue{c.assays, c.volumes, keyword};
    db::AddModifyAssay(db(), catalogue, position, c.assays.Item(position).TestNumber());
  }

  testing_support::TempDir dir_;
  std::optional<Database> db_;
};

// --- Deletion -------------------------------------------------------------

struct DeleteCase {
  const char* stored_name;
  const char* given_name;  // as the dispatch passes it: trimmed, upper-cased
  bool removed;
};

class DeleteTest : public WriterTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteTest, NameGuardsTheTestRowsButNotTheKits) {
  Open(testing::SampleDataSql());
  db().Exec("UPDATE Tests SET Tests_Name = '" + std::string(GetParam().stored_name) +
            "' WHERE Tests_ID = 3");
  db::DeleteAssay(db(), 3, GetParam().given_name);
  const std::int64_t left = GetParam().removed ? 0 : 1;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 3"), left);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestRanges WHERE TR_TestsID = 3"), left);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID = 3"), 2 * left);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Kits WHERE Kits_TestsID = 3"), 0);
  // The other tests keep every row.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests"), 2 + left);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID <> 3"), 2);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestRanges WHERE TR_TestsID <> 3"), 2);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Kits WHERE Kits_TestsID <> 3"), 2);
}

INSTANTIATE_TEST_SUITE_P(Names, DeleteTest,
                         ::testing::Values(DeleteCase{"ALT", "ALT", true},
                                           DeleteCase{"Alt", "ALT", true},
                                           DeleteCase{"AST", "ALT", false},
                                           DeleteCase{"ALT", "AL", false},
                                           DeleteCase{"O''NEIL", "O'NEIL", true},
                                           DeleteCase{"ALT", "X' OR '1'='1", false},
                                           DeleteCase{"ALT", "ALT' --", false}));

TEST_F(WriterTest, DeleteOfATestWithoutRowsChangesNothing) {
  Open(testing::SampleDataSql());
  db::DeleteAssay(db(), 44, "GLU");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests"), 3);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes"), 4);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestRanges"), 3);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Kits"), 4);
}

TEST_F(WriterTest, DeleteRemovesEveryRangeOfTheTest) {
  Open(testing::SampleDataSql());
  db().Exec(
      "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc) "
      "VALUES (3, 2, 1, 2, 'PANIC'), (3, 1, 5, 6, 'NORMAL')");
  db::DeleteAssay(db(), 3, "ALT");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestRanges WHERE TR_TestsID = 3"), 0);
}

// --- The test row ---------------------------------------------------------

// The 29 columns against the assay's properties, each compared as the
// column's declared type stores it.
void ExpectTestRowHolds(Database& db, std::int16_t id, const Assay& a) {
  const std::string where = " FROM Tests WHERE Tests_ID = " + std::to_string(id);
  auto text = [&](const char* column) {
    return QueryValue(db, std::string("SELECT ") + column + where).ToText();
  };
  auto number = [&](const char* column) {
    return QueryValue(db, std::string("SELECT ") + column + where).ToDouble();
  };
  EXPECT_EQ(text("Tests_Name"), a.TestName());
  EXPECT_EQ(text("Tests_FullName"), a.TestFullName());
  EXPECT_EQ(text("Tests_DefUnits"), a.DefaultUnits());
  EXPECT_EQ(text("Tests_AltUnits"), a.AlternateUnits());
  EXPECT_EQ(number("Tests_ConvertUnitMultiplier"), a.ConversionFactor());
  EXPECT_EQ(number("Tests_CalibrationFreq"), a.CalibrationFreq());
  EXPECT_EQ(number("Tests_AssayMin"), a.AssayLow());
  EXPECT_EQ(number("Tests_AssayMax"), a.AssayMax());
  EXPECT_EQ(number("Tests_Formula"), a.Formula());
  EXPECT_EQ(number("Tests_NumReagents"), a.NumOfReagents());
  EXPECT_EQ(number("Tests_SigDigits"), a.RoundOffMethod());
  EXPECT_EQ(number("Tests_CVLow"), a.LowCV());
  EXPECT_EQ(number("Tests_CVHigh"), a.HighCV());
  EXPECT_EQ(number("Tests_Color"), a.Color());
  EXPECT_EQ(number("Tests_DiluentReq"), a.DilutionRequired());
  EXPECT_EQ(number("Tests_DilFactorID"), a.DilutionFactor());
  EXPECT_EQ(number("Tests_DiluentID"), a.DiluentID());
  EXPECT_EQ(number("Tests_DiluteControl"), a.DiluteControl().boolean() ? -1 : 0);
  EXPECT_EQ(number("Tests_NumOfCalibrators"), a.NumOfCalibrators());
  EXPECT_EQ(number("Tests_NumOfReplicates"), a.NumOfReplicates());
  EXPECT_EQ(number("Tests_Cycles"), a.Cycles());
  EXPECT_EQ(number("Tests_MaxSlope"), a.MaxSlope());
  EXPECT_EQ(number("Tests_MinSlope"), a.MinSlope());
  EXPECT_EQ(number("Tests_Active"), a.Active().boolean() ? -1 : 0);
  EXPECT_EQ(number("Tests_SampleVol"), a.SampleVol());
  EXPECT_EQ(number("Tests_SampleVolKey"), a.SampleVolKey());
  EXPECT_EQ(number("Tests_P5"), a.P5());
  EXPECT_EQ(number("Tests_P6"), a.P6());
  EXPECT_EQ(number("Tests_NumOfRepeatTests"), a.NumOfRepeatTests());
}

TEST_F(WriterTest, MissingTestIsAddedWithItsReportingUnitsRangeAndPartsInUse) {
  Open();  // an empty Tests table
  CatalogBuilder b;
  b.Add(12, "  Glu ", "MODIFY", {200, 0, 75}).SetDefaultUnits("g/L");
  const Catalog c = b.Build();
  AddModify(c, 1);
  ExpectTestRowHolds(db(), 12, c.assays.Item(1));
  EXPECT_EQ(Field("SELECT Tests_Name FROM Tests").ToText(), "  Glu ");  // unchanged spaces
  EXPECT_EQ(Field("SELECT Tests_ReportingUnits FROM Tests").ToText(), "g/L");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes"), 2);
  EXPECT_EQ(Count("SELECT TV_ReagentVol FROM TestVolumes WHERE TV_TestsID = 12 AND TV_Part = 0"),
            200);
  EXPECT_EQ(Count("SELECT TV_LastWash FROM TestVolumes WHERE TV_TestsID = 12 AND TV_Part = 2"), 80);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestRanges WHERE TR_TestsID = 12 AND TR_RangeNum = 1 "
                  "AND TR_Low = 22 AND TR_High = 102 AND TR_Desc = 'NORMAL' "
                  "AND TR_LowOperator = 0 AND TR_HighOperator = 0"),
            1);
}

TEST_F(WriterTest, ExistingTestIsOverwrittenAndKeepsItsReportingUnitsAndOtherColumns) {
  Open(testing::SampleDataSql());
  db().Exec(
      "UPDATE Tests SET Tests_ReportingUnits = 'mmol/L', Tests_Comment = 'site note', "
      "Tests_LotCode = 'LOT00001' WHERE Tests_ID = 2");
  CatalogBuilder b;
  b.Add(2, "CHOL2", "ADD").SetDefaultUnits("g/L");
  const Catalog c = b.Build();
  AddModify(c, 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 2"), 1);
  ExpectTestRowHolds(db(), 2, c.assays.Item(1));
  EXPECT_EQ(Field("SELECT Tests_ReportingUnits FROM Tests WHERE Tests_ID = 2").ToText(), "mmol/L");
  EXPECT_EQ(Field("SELECT Tests_Comment FROM Tests WHERE Tests_ID = 2").ToText(), "site note");
  EXPECT_EQ(Field("SELECT Tests_LotCode FROM Tests WHERE Tests_ID = 2").ToText(), "LOT00001");
  EXPECT_EQ(Field("SELECT Tests_Name FROM Tests WHERE Tests_ID = 1").ToText(), "GLU");
}

// --- Reagent parts ----------------------------------------------------------

TEST_F(WriterTest, PartsAreOverwrittenDeletedAndAddedByReagentVol) {
  Open(testing::SampleDataSql());  // test 3 has parts 0 and 1
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
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID = 3 AND TV_Part = 1"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID = 3 AND TV_Part = 2 "
                  "AND TV_ReagentVol = 330"),
            1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID <> 3"), 2);
}

TEST_F(WriterTest, OnlyTheFirstOfDuplicateVolumeAndRangeRowsIsTouched) {
  Open(testing::SampleDataSql());
  db().Exec(
      "INSERT INTO TestVolumes (TV_ID, TV_TestsID, TV_Part, TV_ReagentVol) VALUES "
      "(50, 1, 0, 999), (51, 1, 1, 11), (52, 1, 1, 12);"
      "INSERT INTO TestRanges (TR_ID, TR_TestsID, TR_RangeNum, TR_Low, TR_High) VALUES "
      "(60, 1, 1, -5, -6);");
  CatalogBuilder b;
  b.Add(1, "GLU", "MODIFY", {120, 0, 0});
  AddModify(b.Build(), 1, "QVR");
  // Part 0: the first row (the sample's) overwritten, the duplicate kept.
  EXPECT_EQ(Count("SELECT TV_ReagentVol FROM TestVolumes WHERE TV_TestsID = 1 AND TV_Part = 0 "
                  "ORDER BY TV_ID LIMIT 1"),
            120);
  EXPECT_EQ(Count("SELECT TV_ReagentVol FROM TestVolumes WHERE TV_ID = 50"), 999);
  // Part 1 not in use: only its first row deleted.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_ID = 51"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_ID = 52"), 1);
  // The first normal range takes the limits, the duplicate keeps its own.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestRanges WHERE TR_TestsID = 1 AND TR_Low = 11"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestRanges WHERE TR_ID = 60 AND TR_Low = -5"), 1);
}

// --- The normal range -------------------------------------------------------

struct RangeCase {
  const char* keyword;
  double low, high;  // of the existing range row afterwards
};

class RangeTest : public WriterTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeTest, ExistingNormalRangeTakesTheLimitsOnlyInAQvrRun) {
  Open(testing::SampleDataSql());
  db().Exec(
      "UPDATE TestRanges SET TR_Desc = 'SITE', TR_LowOperator = 2, TR_HighOperator = 3 "
      "WHERE TR_TestsID = 1;"
      "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High) VALUES (1, 2, 1, 2);");
  CatalogBuilder b;
  b.Add(1, "GLU", "ADD");
  AddModify(b.Build(), 1, GetParam().keyword);
  const std::string normal = " FROM TestRanges WHERE TR_TestsID = 1 AND TR_RangeNum = 1";
  EXPECT_EQ(Field("SELECT TR_Low" + normal).ToDouble(), GetParam().low);
  EXPECT_EQ(Field("SELECT TR_High" + normal).ToDouble(), GetParam().high);
  EXPECT_EQ(Field("SELECT TR_Desc" + normal).ToText(), "SITE");
  EXPECT_EQ(Count("SELECT TR_LowOperator" + normal), 2);
  EXPECT_EQ(Count("SELECT TR_HighOperator" + normal), 3);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestRanges WHERE TR_TestsID = 1"), 2);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestRanges WHERE TR_RangeNum = 2 AND TR_Low = 1 "
                  "AND TR_High = 2"),
            1);
}

INSTANTIATE_TEST_SUITE_P(Keywords, RangeTest,
                         ::testing::Values(RangeCase{"INSTALL", 70, 110},
                                           RangeCase{"QVR", 11, 91}));

// --- Refused values ---------------------------------------------------------

std::string DetailOf(const platform::Error& e, const std::string& what) {
  for (const auto& [name, value] : e.details()) {
    if (name == what) return value;
  }
  return "(none)";
}

TEST_F(WriterTest, TooLongANameFailsTheAssayAndStoresNothingOfItsRow) {
  Open();
  CatalogBuilder b;
  b.Add(12, "ALBUMIN-PLUS", "ADD");  // Tests_Name is TEXT(10)
  try {
    AddModify(b.Build(), 1);
    FAIL() << "the too long name was accepted";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::engine::engine_err::kValueDoesNotFit);
    EXPECT_EQ(DetailOf(e, "table"), "Tests");
    EXPECT_EQ(DetailOf(e, "column"), "Tests_Name");
    EXPECT_EQ(DetailOf(e, "value"), "\"ALBUMIN-PLUS\"");
  }
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests"), 0);
}

TEST_F(WriterTest, FormulaOutOfTheColumnsRangeFailsTheAssay) {
  Open(testing::SampleDataSql(), {"Tests_Formula SHORT", "Tests_Formula BYTE"});
  CatalogBuilder b;
  b.Add(2, "CHOL", "MODIFY").SetFormula(300);
  try {
    AddModify(b.Build(), 1);
    FAIL() << "Formula 300 was accepted by a BYTE column";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::engine::engine_err::kValueDoesNotFit);
    EXPECT_EQ(DetailOf(e, "column"), "Tests_Formula");
  }
  EXPECT_EQ(Field("SELECT Tests_FullName FROM Tests WHERE Tests_ID = 2").ToText(), "Cholesterol");
}

TEST_F(WriterTest, AssayBeyondTheVolumeTableFailsBeforeItsPartsAreWritten) {
  Open();
  CatalogBuilder b;
  b.Add(12, "GLU", "ADD");
  Catalog c = b.Build();
  c.assays.Add(testing::MakeAssay(13, "CHOL", "ADD"));  // position 2 has no volumes
  try {
    AddModify(c, 2);
    FAIL() << "position 2 was found in a table of one";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::err::kSubscriptOutOfRange);
  }
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes"), 0);
}

}  // namespace
}  // namespace catalog_sync
