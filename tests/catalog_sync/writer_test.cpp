// The assay database writer on real database files made from the example schema: deletion with its
// name guard, add and modify of the test row, the reagent part rows, the normal range, and values
// that a column refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "catalog_sync/db/assay_writer.h"
#include "tests/support/catalog.h"
#include "tests/support/databases.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"

namespace catalog_sync {
namespace {

using namespace testing_support;

class WriterTest : public ::testing::Test {
 protected:
  // A new database file, in place of the one before.
  void Open(std::string_view data_sql = {},
            std::pair<std::string_view, std::string_view> rewrite = {}) {
    db_.reset();
    std::remove(path_.c_str());
    CreateAnalyserDatabase(path_, data_sql, rewrite);
    db_.emplace(platform::engine::Database::Open(path_));
  }
  std::string Text(const std::string& sql) { return QueryValue(*db_, sql).ToText(); }
  // The volume rows `where` selects as "TV_ID:TV_Part:TV_ReagentVol ...".
  std::string Volumes(const std::string& where) {
    return Text(
        "SELECT group_concat(r, ' ') FROM (SELECT TV_ID || ':' || TV_Part || ':' || "
        "TV_ReagentVol AS r FROM TestVolumes WHERE " +
        where + " ORDER BY TV_ID)");
  }
  // The rows of the tests `w` selects ("= 3") in Tests, TestRanges, TestVolumes and Kits: "1 1 2
  // 2".
  std::string RowsOf(const std::string& w) {
    return Text("SELECT (SELECT COUNT(*) FROM Tests WHERE Tests_ID " + w +
                ") || ' ' || (SELECT COUNT(*) FROM TestRanges WHERE TR_TestsID " + w +
                ") || ' ' || (SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID " + w +
                ") || ' ' || (SELECT COUNT(*) FROM Kits WHERE Kits_TestsID " + w + ")");
  }
  // Adds or modifies the assay at `position`: its failure as "number table column value" (those
  // details it has), "0" when it writes.
  std::string AddModify(const Catalog& c, std::int16_t position,
                        std::string_view keyword = "INSTALL") {
    const platform::Error e = ErrorOf([&] {
      const db::Catalogue catalogue{c.assays, c.volumes, keyword};
      db::AddModifyAssay(*db_, catalogue, position, c.assays.Item(position).TestNumber());
    });
    std::string what = std::to_string(e.number());
    for (const char* name : {"table", "column", "value"})
      if (!DetailOf(e, name).empty()) what += " " + DetailOf(e, name);
    return what;
  }
  std::string Rows(const std::string& sql) { return DumpRows(*db_, sql); }

  TempDir dir_;
  const std::string path_ = dir_.Sub("Corvista1k.mdb");
  std::optional<platform::engine::Database> db_;
};

// The name, as the dispatch passes it (trimmed, upper-cased), guards the test's rows, every range
// of it included, but not its kits; a test without rows changes nothing.
TEST_F(WriterTest, DeleteNameGuardsTheTestRowsButNotTheKits) {
  // clang-format off
  const std::tuple<const char*, const char*, bool> cases[] = {  // stored, given, removed
      {"ALT", "ALT", true}, {"Alt", "ALT", true}, {"AST", "ALT", false}, {"ALT", "AL", false},
      {"O''NEIL", "O'NEIL", true}, {"ALT", "X' OR '1'='1", false}, {"ALT", "ALT' --", false}};
  // clang-format on
  for (const auto& [stored, given, removed] : cases) {
    SCOPED_TRACE(given);
    Open(SampleDataSql());
    db_->Exec("UPDATE Tests SET Tests_Name = '" + std::string(stored) +
              "' WHERE Tests_ID = 3;"
              "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc) "
              "VALUES (3, 2, 1, 2, 'PANIC'), (3, 1, 5, 6, 'NORMAL')");
    db::DeleteAssay(*db_, 3, given);
    EXPECT_EQ(RowsOf("= 3"), removed ? "0 0 0 0" : "1 3 2 0");
    EXPECT_EQ(RowsOf("<> 3"), "2 2 2 2");  // the other tests keep every row
  }
  const std::string before = DumpDatabase(path_);
  db::DeleteAssay(*db_, 44, "GLU");
  EXPECT_EQ(DumpDatabase(path_), before);
}

// A missing test is added with its name as given, its reporting units from the default units, its
// parts in use and its normal range. A value that a column refuses fails the assay before anything
// of it is written; an assay beyond the volume table fails before its parts are.
TEST_F(WriterTest, MissingTestIsAddedWithItsUnitsRangeAndPartsUnlessAValueIsRefused) {
  Open();  // an empty Tests table
  CatalogBuilder b;
  b.Add(12, "  Glu ", "MODIFY", {200, 0, 75}).SetDefaultUnits("g/L");
  b.Add(14, "ALBUMIN-PLUS", "ADD");  // Tests_Name is TEXT(10)
  Catalog c = b.Build();
  ASSERT_EQ(AddModify(c, 1), "0");
  EXPECT_EQ(Rows("SELECT * FROM Tests WHERE Tests_ID = 12"),
            "12|  Glu |Full name of   Glu |g/L|mmol/L|g/L|0.062|19|1.2|512|3|2|0|1.5|16.5|65292|0|"
            "15|32|-1|4|3|22|2.25|-0.75|-1|2.5|52|1.5|-6|1|NULL|NULL|NULL|NULL\n");
  EXPECT_EQ(Volumes("1"), "1:0:200 2:2:75");
  EXPECT_EQ(Text("SELECT TV_LastWash FROM TestVolumes WHERE TV_Part = 2"), "80");
  EXPECT_EQ(Rows("SELECT TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc, TR_LowOperator, "
                 "TR_HighOperator FROM TestRanges"),
            "12|1|22|102|NORMAL|0|0\n");
  EXPECT_EQ(AddModify(c, 2), "3001 Tests Tests_Name \"ALBUMIN-PLUS\"");
  EXPECT_EQ(RowsOf("= 14"), "0 0 0 0");
  c.assays.Add(MakeAssay(13, "CHOL", "ADD"));
  EXPECT_EQ(AddModify(c, 3), std::to_string(platform::err::kSubscriptOutOfRange));
  EXPECT_EQ(Text("SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID = 13"), "0");
}

// An existing test is overwritten and keeps its reporting units and its other columns; a value out
// of the column's range fails it untouched.
TEST_F(WriterTest, ExistingTestIsOverwrittenAndKeepsItsReportingUnitsAndOtherColumns) {
  Open(SampleDataSql(), {"Tests_Formula SHORT", "Tests_Formula BYTE"});
  db_->Exec(
      "UPDATE Tests SET Tests_ReportingUnits = 'mmol/L', Tests_Comment = 'site note', "
      "Tests_LotCode = 'LOT00001' WHERE Tests_ID = 2");
  CatalogBuilder b;
  b.Add(2, "CHOL", "MODIFY").SetFormula(300);
  b.Add(2, "CHOL2", "ADD").SetDefaultUnits("g/L");
  const Catalog c = b.Build();
  EXPECT_EQ(AddModify(c, 1), "3001 Tests Tests_Formula 300");
  EXPECT_EQ(Text("SELECT Tests_FullName FROM Tests WHERE Tests_ID = 2"), "Cholesterol");
  ASSERT_EQ(AddModify(c, 2), "0");
  EXPECT_EQ(Rows("SELECT * FROM Tests WHERE Tests_ID = 2"),
            "2|CHOL2|Full name of CHOL2|g/L|mmol/L|mmol/L|0.052|9|0.2|502|3|2|2|1.5|6.5|65282|0|5|"
            "22|-1|4|3|12|2.25|-0.75|-1|4.5|42|0.25|-1|3|site note|NULL|NULL|LOT00001\n");
  EXPECT_EQ(
      Rows("SELECT Tests_Name, Tests_ReportingUnits, Tests_Comment, Tests_LotCode FROM Tests"),
      "GLU|mg/dL|NULL|NULL\nCHOL2|mmol/L|site note|LOT00001\nALT|U/L|NULL|NULL\n");
}

// Parts are overwritten, deleted and added by ReagentVol; of duplicate volume and range rows only
// the first is touched. Only the limits of the normal range change, and only in a QVR run.
TEST_F(WriterTest, PartsFollowReagentVolAndTheNormalRangeTakesItsLimitsOnlyInAQvrRun) {
  for (const auto& [keyword, normal] : {std::pair{"INSTALL", "1|1|70|110"}, {"QVR", "1|1|11|91"}}) {
    SCOPED_TRACE(keyword);
    Open(SampleDataSql());  // test 3 has parts 0 and 1
    db_->Exec(
        "UPDATE TestVolumes SET TV_ID = 90 WHERE TV_TestsID = 3 AND TV_Part = 0;"
        "INSERT INTO TestVolumes (TV_ID, TV_TestsID, TV_Part, TV_ReagentVol) VALUES "
        "(50, 1, 0, 999), (51, 1, 1, 11), (52, 1, 1, 12);"
        "UPDATE TestRanges SET TR_Desc = 'SITE', TR_LowOperator = 2, TR_HighOperator = 3;"
        "INSERT INTO TestRanges (TR_ID, TR_TestsID, TR_RangeNum, TR_Low, TR_High) VALUES "
        "(60, 1, 1, -5, -6), (61, 1, 2, 1, 2);");
    CatalogBuilder b;
    b.Add(3, "ALT", "MODIFY", {310, 0, 330});
    b.Add(1, "GLU", "MODIFY", {120, 0, 0});
    ASSERT_EQ(AddModify(b.Build(), 1, keyword), "0");
    // Part 0: the same row, all seven columns from the record.
    EXPECT_EQ(Rows("SELECT TV_ID, TV_TestsID, TV_Part, TV_ReagentVol, TV_RegentVolKey, "
                   "TV_WaterToAssayB, TV_InitWater, TV_WaterToAssayA, TV_WashFill, TV_LastWash "
                   "FROM TestVolumes WHERE TV_ID = 90"),
              "90|3|0|310|32|311|312|313|314|315\n");
    EXPECT_EQ(Volumes("TV_TestsID = 3"), "90:0:310 91:2:330");  // part 1 deleted, 2 added
    EXPECT_EQ(Volumes("TV_TestsID <> 3"), "1:0:200 2:0:180 50:0:999 51:1:11 52:1:12");
    ASSERT_EQ(AddModify(b.Build(), 2, keyword), "0");
    // Part 0: the first row (the sample's) overwritten, the duplicate kept; part 1 not in use: only
    // its first row deleted.
    EXPECT_EQ(Volumes("TV_TestsID = 1"), "1:0:120 50:0:999 52:1:12");
    EXPECT_EQ(
        Rows("SELECT TR_ID, TR_RangeNum, TR_Low, TR_High, TR_Desc, TR_LowOperator, "
             "TR_HighOperator FROM TestRanges WHERE TR_TestsID = 1 ORDER BY TR_ID"),
        std::string(normal) + "|SITE|2|3\n60|1|-5|-6|NULL|NULL|NULL\n61|2|1|2|NULL|NULL|NULL\n");
  }
}

}  // namespace
}  // namespace catalog_sync
