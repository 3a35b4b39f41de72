// The recordset behaviours the catalogue writer relies on, Execute's
// skipping, and index use of the lookups.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <vector>

#include "platform/engine/database.h"
#include "platform/engine/engine_error.h"
#include "platform/engine/internal/database_impl.h"
#include "tests/platform/engine_test_support.h"

namespace platform::engine {
namespace {

using testing::ErrorOf;
using testing_support::TempDir;

Value Short(int v) {
  return Value(static_cast<std::int16_t>(v));
}

std::int64_t Count(Database& db, const std::string& sql) {
  return static_cast<std::int64_t>(db.Query(sql).rows.at(0).at(0).ToDouble());
}

TEST(TypedRows, RecordsetBehavioursOfTheCatalogueWriter) {
  TempDir dir;
  Database db = testing::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  EXPECT_FALSE(db.FirstRow("Tests", "").has_value());  // empty: no row

  // AddNew, set fields, Update; then set another field and Update again.
  const RowId test = db.InsertRow(
      "TESTS",
      {{"TESTS_ID", Short(12)}, {"Tests_Name", Value("abc")}, {"tests_defunits", Value("mg/dL")}});
  db.UpdateRow("Tests", test,
               {{"Tests_ReportingUnits", db.ReadField("Tests", test, "Tests_DefUnits")}});
  EXPECT_EQ(db.ReadField("Tests", test, "Tests_ReportingUnits").ToText(), "mg/dL");
  EXPECT_EQ(db.ReadField("Tests", test, "Tests_Name").ToText(), "abc");  // others kept

  // Searching the key from the first row.
  EXPECT_EQ(db.FirstRow("Tests", "Tests_ID = 12"), test);
  EXPECT_FALSE(db.FirstRow("Tests", "Tests_ID = ?", std::vector<Value>{Short(13)}).has_value());

  for (int part = 0; part < 2; ++part) {
    db.InsertRow("TestVolumes", {{"TV_TestsID", Short(12)}, {"TV_Part", Short(part)}});
  }
  db.InsertRow("TestRanges", {{"TR_TestsID", Short(12)}, {"TR_RangeNum", Short(1)}});
  db.InsertRow("TestRanges", {{"TR_TestsID", Short(12)}, {"TR_RangeNum", Short(2)}});
  db.InsertRow("Kits", {{"Kits_TestsID", Short(12)}, {"Kits_LotNumber", Value("L1")}});

  // Deleting the rows of a join source whose select list is one child
  // table's columns removes those child rows and leaves the Tests row.
  const auto ranges =
      db.RowsOfSource("TestRanges",
                      "SELECT TestRanges.* FROM Tests INNER JOIN TestRanges ON Tests.Tests_ID = "
                      "TestRanges.TR_TestsID WHERE (((TestRanges.TR_TestsID)= 12 ) AND "
                      "((UCASE(Tests.Tests_Name))= 'ABC' ));");
  ASSERT_EQ(ranges.size(), 2u);
  db.DeleteRow("TestRanges", ranges[0]);  // the current row only
  EXPECT_EQ(Count(db, "SELECT count(*) FROM TestRanges"), 1);
  db.DeleteRow("TestRanges", ranges[1]);
  EXPECT_EQ(Count(db, "SELECT count(*) FROM TestRanges"), 0);
  EXPECT_EQ(Count(db, "SELECT count(*) FROM Tests"), 1);

  const auto kits = db.RowsOfSource("Kits", "Select * From Kits Where Kits_TestsID = 12");
  EXPECT_EQ(kits.size(), 1u);
  EXPECT_EQ(ErrorOf([&] { db.RowsOfSource("Kits", "SELECT Kits_ID FROM Kits"); }).number(),
            engine_err::kUnsupportedSource);

  // A later connection sees every change at once.
  Database other = Database::Open(dir.Sub("a.mdb"));
  EXPECT_EQ(Count(other, "SELECT count(*) FROM TestVolumes WHERE TV_TestsID = 12"), 2);
  EXPECT_EQ(
      other.Query("SELECT UCASE(Tests_Name), UCASE(NULL) FROM Tests").rows.at(0).at(0).ToText(),
      "ABC");
}

TEST(TypedRows, TransactionRollsBackUnlessCommitted) {
  TempDir dir;
  Database db = testing::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  {
    Transaction t = db.Begin();
    db.InsertRow("Kits", {{"Kits_TestsID", Short(1)}});
  }
  EXPECT_EQ(Count(db, "SELECT count(*) FROM Kits"), 0);
  Transaction t = db.Begin();
  db.InsertRow("Kits", {{"Kits_TestsID", Short(1)}});
  t.Commit();
  EXPECT_EQ(Count(db, "SELECT count(*) FROM Kits"), 1);
}

TEST(Execute, SkipsDuplicateKeyRowsAndFailsOnStatementsThatCannotRun) {
  TempDir dir;
  Database db = testing::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  db.Exec("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'A')");
  const ExecuteResult inserted =
      db.Execute("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'DUP'), (2, 'B'), (3, 'C')");
  EXPECT_EQ(inserted.rows_changed, 2);
  EXPECT_EQ(Count(db, "SELECT count(*) FROM Tests"), 3);
  EXPECT_EQ(db.Query("SELECT Tests_Name FROM Tests WHERE Tests_ID = 1").rows[0][0].ToText(), "A");

  const ExecuteResult updated = db.Execute("update Tests SET Tests_ID = 3 WHERE Tests_ID = 2");
  EXPECT_EQ(updated.rows_changed, 0);
  EXPECT_EQ(db.Execute("DELETE FROM Tests WHERE Tests_ID > 1").rows_changed, 2);

  EXPECT_EQ(ErrorOf([&] { db.Execute("INSERT INTO Tests VALUES ("); }).number(), SQLITE_ERROR);
  EXPECT_EQ(ErrorOf([&] { db.Execute("DELETE FROM NoSuchTable"); }).number(), SQLITE_ERROR);
  EXPECT_EQ(ErrorOf([&] { db.Execute("UPDATE Tests SET NoSuchField = 1"); }).number(),
            SQLITE_ERROR);
}

// One assay's worth of writer lookups on a Tests table of 100,000 rows reads
// a bounded number of rows: no statement runs a full scan.
TEST(TypedRows, OneAssaysLookupsUseTheKeysIndexes) {
  TempDir dir;
  Database db = testing::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  db.Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
      "INSERT INTO Tests (Tests_ID, Tests_Name) SELECT i - 50000, 'T' || i FROM n;"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
      "INSERT INTO TestVolumes (TV_TestsID, TV_Part) SELECT i - 50000, 0 FROM n;"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
      "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum) SELECT i - 50000, 1 FROM n;"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
      "INSERT INTO Kits (Kits_TestsID) SELECT i - 50000 FROM n;");
  sqlite3* handle = db.impl().db();
  auto steps = [&](int counter) {
    std::int64_t total = 0;
    for (sqlite3_stmt* s = sqlite3_next_stmt(handle, nullptr); s != nullptr;
         s = sqlite3_next_stmt(handle, s)) {
      total += sqlite3_stmt_status(s, counter, 1);
    }
    return total;
  };
  // The writer's lookups for one test number, as SQL text with the number
  // in it.
  auto apply_assay = [&](const std::string& n) {
    const auto test = db.FirstRow("Tests", "Tests_ID = " + n);
    ASSERT_TRUE(test.has_value());
    db.UpdateRow("Tests", *test, {{"Tests_FullName", Value("Lookup")}});
    const auto volume = db.FirstRow("TestVolumes", "TV_TestsID = " + n + " AND TV_Part = 0");
    ASSERT_TRUE(volume.has_value());
    db.UpdateRow("TestVolumes", *volume, {{"TV_ReagentVol", Value(std::int32_t{5})}});
    EXPECT_TRUE(
        db.FirstRow("TestRanges", "TR_TestsID = " + n + " AND TR_RangeNum = 1").has_value());
    EXPECT_EQ(db.RowsOfSource("TestRanges",
                              "SELECT TestRanges.* FROM Tests INNER JOIN TestRanges ON "
                              "Tests.Tests_ID = TestRanges.TR_TestsID WHERE "
                              "(((TestRanges.TR_TestsID)= " +
                                  n +
                                  " ) AND "
                                  "((UCASE(Tests.Tests_Name))= 'T5" +
                                  n + "' ));")
                  .size(),
              1u);
    EXPECT_EQ(db.RowsOfSource("Kits", "Select * From Kits Where Kits_TestsID = " + n + "").size(),
              1u);
  };
  // The first run reads the schema (once per connection, whatever the size).
  apply_assay("4321");
  steps(SQLITE_STMTSTATUS_FULLSCAN_STEP);
  steps(SQLITE_STMTSTATUS_VM_STEP);
  apply_assay("1234");
  EXPECT_EQ(steps(SQLITE_STMTSTATUS_FULLSCAN_STEP), 0);
  EXPECT_LT(steps(SQLITE_STMTSTATUS_VM_STEP), 1000);  // a scan would be > 100,000
}

}  // namespace
}  // namespace platform::engine
