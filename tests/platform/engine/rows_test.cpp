// Connections and rows: every value written (typed row operations and
// Execute alike) converted to its column's declared type or the row refused
// whole; the recordset behaviours the catalogue writer relies on; Execute's
// skipping; index use of the lookups; the lock file's life.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <limits>
#include <optional>

#include "platform/engine/database.h"
#include "platform/engine/engine_error.h"
#include "platform/engine/rows/database_impl.h"
#include "tests/support/databases.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"

namespace platform::engine {
namespace {

using testing_support::DumpRows;
using testing_support::ErrorOf;
using testing_support::Exists;
using testing_support::TempDir;

Value Short(int v) {
  return Value(static_cast<std::int16_t>(v));
}

// The catalogue writer's source of one test's ranges: a join whose select
// list is one child table's columns.
std::string RangesSource(const std::string& number, const std::string& upper_name) {
  return "SELECT TestRanges.* FROM Tests INNER JOIN TestRanges ON Tests.Tests_ID = "
         "TestRanges.TR_TestsID WHERE (((TestRanges.TR_TestsID)= " +
         number + " ) AND ((UCASE(Tests.Tests_Name))= '" + upper_name + "' ));";
}

// One value into a column of a declared type: written by InsertRow, and as
// an SQL literal (when given) by an Execute UPDATE and INSERT. `stored` is
// typeof(F) || ':' || quote(F) of every write, or "" when the value does not
// fit: then each write fails with 3001 naming table, column, declared type
// (and value) and stores nothing of its row or statement.
struct Write {
  const char* type;
  std::optional<Value> value;
  const char* literal;
  const char* stored;
};

TEST(DeclaredTypes, EveryWriteIsConvertedOrRefusedWhole) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Write writes[] = {
      {"YESNO", true, "'True'", "integer:-1"},
      {"YESNO", false, nullptr, "integer:0"},
      {"YESNO", std::int32_t{5}, nullptr, "integer:-1"},
      {"YESNO", "yes", nullptr, "integer:-1"},
      {"YESNO", " False ", nullptr, "integer:0"},
      {"YESNO", "maybe", "'maybe'", ""},
      {"BYTE", 2.5, nullptr, "integer:2"},
      {"BYTE", " 255 ", nullptr, "integer:255"},
      {"BYTE", " 7 ", "' 7 '", "integer:7"},
      {"BYTE", std::int32_t{256}, "300", ""},
      {"BYTE", std::int32_t{-1}, nullptr, ""},
      {"BYTE", true, nullptr, ""},
      {"BYTE", "lots", "'lots'", ""},
      {"SHORT", 2.5, "2.5", "integer:2"},
      {"SHORT", 3.5, nullptr, "integer:4"},
      {"SHORT", std::int32_t{-32768}, nullptr, "integer:-32768"},
      {"SHORT", true, nullptr, "integer:-1"},
      {"SHORT", 32767.5, nullptr, ""},
      {"SHORT", "12a", nullptr, ""},
      {"LONG", 2147483647.0, nullptr, "integer:2147483647"},
      {"LONG", 2147483648.0, nullptr, ""},
      {"LONG", Value::Null(), "NULL", "null:NULL"},
      {"LONG", Value::FromError(7), nullptr, ""},
      {"CURRENCY", 1.23456, "1.23456", "real:1.2346"},
      {"CURRENCY", 1e15, nullptr, ""},
      {"SINGLE", 0.1, "0.1", "real:1.00000001490116119384e-01"},
      {"SINGLE", 1e39, nullptr, ""},
      {"DOUBLE", "1E+20", nullptr, "real:1.0e+20"},
      {"DOUBLE", nan, nullptr, ""},
      {"FLOAT", std::int32_t{7}, nullptr, "real:7.0"},
      {"DATETIME", "2024-02-29", "'2024-02-29'", "text:'2024-02-29 00:00:00'"},
      {"DATETIME", "2024-03-01 13:45:10", nullptr, "text:'2024-03-01 13:45:10'"},
      {"DATETIME", "2023-02-29", nullptr, ""},
      {"DATETIME", "31/12/2024", "'31/12/2024'", ""},
      {"DATETIME", std::int32_t{1}, nullptr, ""},
      {"TIME", "23:59:59", nullptr, "text:'23:59:59'"},
      {"TIME", "24:00:00", nullptr, ""},
      {"TEXT(3)", "äöü", nullptr, "text:'äöü'"},
      {"TEXT(3)", "abcd", nullptr, ""},
      {"TEXT(10)", 2.5, "2.5", "text:'2.5'"},
      {"TEXT(10)", "ABCDEFGHIJK", "'ABCDEFGHIJKLMNOPQRS'", ""},
      {"CHAR(4)", "ab", nullptr, "text:'ab  '"},
      {"CHAR(6)", "AB", "'AB'", "text:'AB    '"},
      {"CHAR(2)", "abc", nullptr, ""},
      {"MEMO", true, nullptr, "text:'True'"},
      {"BINARY(2)", "ab", "'ab'", "blob:X'6162'"},
      {"BINARY(1)", "ab", nullptr, ""},
      {"DECIMAL(18,0)", 2.5, nullptr, "integer:2"},
      {"DECIMAL(18,0)", 1e17, nullptr, "integer:100000000000000000"},
      {"DECIMAL(18,0)", std::nullopt, "999999999999999999", "integer:999999999999999999"},
      {"DECIMAL(18,0)", 1e18, "1e18", ""},
      {"WHATEVER", std::int32_t{3}, nullptr, "integer:3"},
      {"WHATEVER", "x", "'x'", "text:'x'"},
      {"WHATEVER", nan, nullptr, ""},
  };
  TempDir dir;
  Database db = Database::Create(dir.Sub("t.mdb"));
  for (std::size_t i = 0; i < std::size(writes); ++i) {
    const Write& w = writes[i];
    SCOPED_TRACE(std::string(w.type) + " " + (w.value ? w.value->Describe() : w.literal));
    const std::string table = "T" + std::to_string(i), stored = w.stored;
    db.Exec("CREATE TABLE " + table + " (Other LONG, F " + w.type + "); INSERT INTO " + table +
            " (Other) VALUES (0)");
    std::vector<std::function<void()>> writes_of_row;
    if (w.value) {
      writes_of_row.push_back([&] { db.InsertRow(table, {{"Other", Short(1)}, {"F", *w.value}}); });
    }
    if (w.literal) {
      writes_of_row.push_back([&] {
        db.Execute("UPDATE " + table + " SET Other = 2, F = " + w.literal + " WHERE Other = 0");
      });
      writes_of_row.push_back([&] {
        db.Execute("INSERT INTO " + table + " (Other, F) VALUES (3, " + w.literal + ")");
      });
    }
    for (std::size_t k = 0; k < writes_of_row.size(); ++k) {
      const Error e = ErrorOf(writes_of_row[k]);
      EXPECT_EQ(e.number(), stored.empty() ? engine_err::kValueDoesNotFit : 0) << k;
      if (stored.empty() && e.details().size() == 4) {
        EXPECT_EQ(e.details()[0], (Error::Detail{"table", table}));
        EXPECT_EQ(e.details()[1], (Error::Detail{"column", "F"}));
        EXPECT_EQ(e.details()[2], (Error::Detail{"declared type", w.type}));
        if (k == 0 && w.value) {
          EXPECT_EQ(e.details()[3].second, w.value->Describe());
        }
      } else {
        EXPECT_TRUE(!stored.empty()) << "details: " << e.details().size();
      }
    }
    const std::string want = stored.empty()
                                 ? "0|null:NULL\n"
                                 : (w.literal ? "" : "0|null:NULL\n") +
                                       (w.value ? "1|" + stored + "\n" : "") +
                                       (w.literal ? "2|" + stored + "\n3|" + stored + "\n" : "");
    EXPECT_EQ(DumpRows(db, "SELECT Other, typeof(F) || ':' || quote(F) FROM " + table +
                               " ORDER BY Other"),
              want);
  }
  // A value converted after the statement fires no other trigger again.
  db.Exec(
      "CREATE TABLE Flags (Flag YESNO); CREATE TABLE Audit (Note TEXT);"
      "CREATE TRIGGER Audited AFTER UPDATE ON Flags BEGIN INSERT INTO Audit VALUES ('u'); END;"
      "INSERT INTO Flags VALUES (0)");
  db.Execute("UPDATE Flags SET Flag = 'Yes'");
  EXPECT_EQ(DumpRows(db, "SELECT Flag, (SELECT count(*) FROM Audit) FROM Flags"), "-1|1\n");
}

TEST(TypedRows, RecordsetBehavioursOfTheCatalogueWriter) {
  TempDir dir;
  Database db = testing_support::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  EXPECT_FALSE(db.FirstRow("Tests", "").has_value());  // empty: no row
  // Unknown fields and tables; an update refused keeps the whole row.
  EXPECT_EQ(ErrorOf([&] {
              db.InsertRow("Tests", {{"NoSuch", 1.0}});
            }).number(),
            engine_err::kUnknownField);
  EXPECT_EQ(ErrorOf([&] { db.InsertRow("NoSuchTable", {}); }).number(), engine_err::kUnknownTable);
  // AddNew, set fields, Update; then set another field and Update again.
  const RowId test = db.InsertRow(
      "TESTS", {{"TESTS_ID", Short(12)}, {"Tests_Name", "abc"}, {"tests_defunits", "mg/dL"}});
  db.UpdateRow("Tests", test,
               {{"Tests_ReportingUnits", db.ReadField("Tests", test, "Tests_DefUnits")}});
  EXPECT_EQ(ErrorOf([&] {
              db.UpdateRow("Tests", test, {{"Tests_Name", "NEW"}, {"Tests_Cycles", "300"}});
            }).number(),
            engine_err::kValueDoesNotFit);
  EXPECT_EQ(DumpRows(db, "SELECT Tests_ReportingUnits, Tests_Name FROM Tests"), "mg/dL|abc\n");
  // Searching the key from the first row.
  EXPECT_EQ(db.FirstRow("Tests", "Tests_ID = 12"), test);
  EXPECT_FALSE(db.FirstRow("Tests", "Tests_ID = ?", std::vector<Value>{Short(13)}).has_value());
  for (int part = 0; part < 2; ++part) {
    db.InsertRow("TestVolumes", {{"TV_TestsID", Short(12)}, {"TV_Part", Short(part)}});
    db.InsertRow("TestRanges", {{"TR_TestsID", Short(12)}, {"TR_RangeNum", Short(part + 1)}});
  }
  db.InsertRow("Kits", {{"Kits_TestsID", Short(12)}, {"Kits_LotNumber", "L1"}});
  // Deleting the rows of a join source whose select list is one child
  // table's columns removes those child rows, one at a time, and leaves the
  // Tests row.
  const auto ranges = db.RowsOfSource("TestRanges", RangesSource("12", "ABC"));
  ASSERT_EQ(ranges.size(), 2u);
  const std::string counts = "SELECT count(*) FROM TestRanges UNION ALL SELECT count(*) FROM Tests";
  db.DeleteRow("TestRanges", ranges[0]);
  EXPECT_EQ(DumpRows(db, counts), "1\n1\n");
  db.DeleteRow("TestRanges", ranges[1]);
  EXPECT_EQ(DumpRows(db, counts), "0\n1\n");
  EXPECT_EQ(db.RowsOfSource("Kits", "Select * From Kits Where Kits_TestsID = 12").size(), 1u);
  EXPECT_EQ(ErrorOf([&] { db.RowsOfSource("Kits", "SELECT Kits_ID FROM Kits"); }).number(),
            engine_err::kUnsupportedSource);
  // A later connection sees every change at once; UCASE keeps Null.
  Database other = Database::Open(dir.Sub("a.mdb"));
  EXPECT_EQ(DumpRows(other, "SELECT count(*), UCASE(NULL), UCASE('abé') FROM TestVolumes"),
            "2|NULL|ABÉ\n");
  // A transaction rolls back unless committed.
  {
    Transaction t = db.Begin();
    db.InsertRow("Kits", {{"Kits_TestsID", Short(1)}});
  }
  Transaction t = db.Begin();
  db.InsertRow("Kits", {{"Kits_TestsID", Short(2)}});
  t.Commit();
  EXPECT_EQ(DumpRows(db, "SELECT Kits_TestsID FROM Kits ORDER BY Kits_ID"), "12\n2\n");
}

// Execute skips the rows that break a key and changes the others; a
// statement that cannot run, or changes no data, fails.
TEST(Execute, SkipsDuplicateKeyRowsAndFailsOnStatementsThatCannotRun) {
  TempDir dir;
  Database db = testing_support::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  db.Exec("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'A')");
  EXPECT_EQ(
      db.Execute("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'DUP'), (2, 'B'), (3, 'C')")
          .rows_changed,
      2);
  EXPECT_EQ(DumpRows(db, "SELECT Tests_ID, Tests_Name FROM Tests ORDER BY 1"), "1|A\n2|B\n3|C\n");
  EXPECT_EQ(db.Execute("update Tests SET Tests_ID = 3 WHERE Tests_ID = 2").rows_changed, 0);
  EXPECT_EQ(db.Execute("DELETE FROM Tests WHERE Tests_ID > 1").rows_changed, 2);
  const std::pair<const char*, long> failures[] = {
      {"INSERT INTO Tests VALUES (", SQLITE_ERROR},
      {"DELETE FROM NoSuchTable", SQLITE_ERROR},
      {"UPDATE Tests SET NoSuch = 1", SQLITE_ERROR},
      {"SELECT * FROM Tests", engine_err::kNotAnAction}};
  for (const auto& [sql, number] : failures) {
    EXPECT_EQ(ErrorOf([&] { db.Execute(sql); }).number(), number) << sql;
  }
}

// One assay's worth of writer lookups on a Tests table of 100,000 rows reads
// a bounded number of rows: no statement runs a full scan.
TEST(TypedRows, OneAssaysLookupsUseTheKeysIndexes) {
  TempDir dir;
  Database db = testing_support::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  for (const char* insert : {"Tests (Tests_ID, Tests_Name) SELECT i - 50000, 'T' || i",
                             "TestVolumes (TV_TestsID, TV_Part) SELECT i - 50000, 0",
                             "TestRanges (TR_TestsID, TR_RangeNum) SELECT i - 50000, 1",
                             "Kits (Kits_TestsID) SELECT i - 50000"}) {
    db.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
        "INSERT INTO " +
        std::string(insert) + " FROM n");
  }
  const auto steps = [&](int counter) {
    std::int64_t total = 0;
    for (sqlite3_stmt* s = sqlite3_next_stmt(db.impl().db(), nullptr); s != nullptr;
         s = sqlite3_next_stmt(db.impl().db(), s)) {
      total += sqlite3_stmt_status(s, counter, 1);
    }
    return total;
  };
  // The writer's lookups for one test number, as SQL text with the number in it.
  const auto apply_assay = [&](const std::string& n) {
    const auto test = db.FirstRow("Tests", "Tests_ID = " + n);
    ASSERT_TRUE(test.has_value());
    db.UpdateRow("Tests", *test, {{"Tests_FullName", "Lookup"}});
    const auto volume = db.FirstRow("TestVolumes", "TV_TestsID = " + n + " AND TV_Part = 0");
    ASSERT_TRUE(volume.has_value());
    db.UpdateRow("TestVolumes", *volume, {{"TV_ReagentVol", std::int32_t{5}}});
    EXPECT_TRUE(db.FirstRow("TestRanges", "TR_TestsID = " + n + " AND TR_RangeNum = 1"));
    EXPECT_EQ(db.RowsOfSource("TestRanges", RangesSource(n, "T5" + n)).size(), 1u);
    EXPECT_EQ(db.RowsOfSource("Kits", "Select * From Kits Where Kits_TestsID = " + n).size(), 1u);
  };
  apply_assay("4321");  // reads the schema (once per connection, whatever the size)
  steps(SQLITE_STMTSTATUS_FULLSCAN_STEP);
  steps(SQLITE_STMTSTATUS_VM_STEP);
  apply_assay("1234");
  EXPECT_EQ(steps(SQLITE_STMTSTATUS_FULLSCAN_STEP), 0);
  EXPECT_LT(steps(SQLITE_STMTSTATUS_VM_STEP), 1000);  // a scan would be > 100,000
}

// Created by the first connection, kept while any is open (of this process
// or another), removed by the last; a stale one is taken over.
TEST(LockFile, LivesWhileAnyConnectionIsOpen) {
  TempDir dir;
  const std::string path = dir.Sub("Analyser.mdb"), lock = dir.Sub("Analyser.ldb");
  Database::Create(path).Close();
  EXPECT_EQ(LockFileOf(path), lock);
  EXPECT_FALSE(Exists(lock));
  EXPECT_EQ(ProbeLockFile(path), LockState::kNone);
  Database first = Database::Open(path);
  {
    // Another spelling of the same path shares the process's one lock.
    Database second = Database::Open(dir.path() + "/./Analyser.mdb");
    EXPECT_EQ(ProbeLockFile(path), LockState::kHeld);
    RemoveStaleLockFile(path);  // held: stays
  }
  EXPECT_TRUE(Exists(lock));  // the first connection still holds it
  first.Close();
  first.Close();  // idempotent
  EXPECT_FALSE(Exists(lock));
  testing_support::WriteFile(lock, "");  // left by a process that died
  EXPECT_EQ(ProbeLockFile(path), LockState::kStale);
  {
    Database taken_over = Database::Open(path);
    EXPECT_EQ(ProbeLockFile(path), LockState::kHeld);
  }
  EXPECT_FALSE(Exists(lock));
  testing_support::WriteFile(lock, "");
  RemoveStaleLockFile(path);
  EXPECT_FALSE(Exists(lock));
  // A file that cannot be opened leaves no lock file.
  testing_support::WriteFile(dir.Sub("junk.mdb"), std::string(4096, 'x'));
  EXPECT_EQ(ErrorOf([&] { Database::Open(dir.Sub("none.mdb")); }).number(), err::kFileNotFound);
  EXPECT_EQ(ErrorOf([&] { Database::Open(dir.Sub("junk.mdb")); }).number(), SQLITE_NOTADB);
  EXPECT_FALSE(Exists(dir.Sub("none.ldb")) || Exists(dir.Sub("junk.ldb")));

  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready) | ::pipe(done), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    Database db = Database::Open(path);
    char c = 'r';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    db.Close();
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(ProbeLockFile(path), LockState::kHeld);
  Database::Open(path).Close();  // cannot take the exclusive lock: the child holds it
  EXPECT_TRUE(Exists(lock));
  ASSERT_EQ(::write(done[1], &c, 1), 1);
  ::waitpid(child, nullptr, 0);
  EXPECT_FALSE(Exists(lock));
}

}  // namespace
}  // namespace platform::engine
