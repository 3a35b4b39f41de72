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
#include "platform/engine/rows/database_core.h"
#include "tests/support/databases.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"

namespace platform::engine {
namespace {

using namespace testing_support;

Value Short(int v) {
  return Value(static_cast<std::int16_t>(v));
}

// The numbers of the failures of `calls`, each followed by a space (0: none).
std::string Numbers(std::initializer_list<std::function<void()>> calls) {
  std::string numbers;
  for (const auto& call : calls) numbers += std::to_string(ErrorOf(call).number()) + " ";
  return numbers;
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
// and value (InsertRow's: its Describe) and stores nothing of its row or
// statement.
struct Write {
  const char* type;
  std::optional<Value> value;
  std::string literal, stored;
};

TEST(DeclaredTypes, EveryWriteIsConvertedOrRefusedWhole) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Value null = Value::Null(), error = Value::FromError(7);
  // clang-format off
  const Write writes[] = {
      {"YESNO", true, "'True'", "integer:-1"},   {"YESNO", false, "", "integer:0"},
      {"YESNO", 5, "", "integer:-1"},            {"YESNO", "yes", "", "integer:-1"},
      {"YESNO", " False ", "", "integer:0"},     {"YESNO", "maybe", "'maybe'", ""},
      {"BYTE", 2.5, "", "integer:2"},            {"BYTE", " 255 ", "", "integer:255"},
      {"BYTE", " 7 ", "' 7 '", "integer:7"},     {"BYTE", 256, "300", ""},
      {"BYTE", -1, "", ""},                      {"BYTE", true, "", ""},
      {"BYTE", "lots", "'lots'", ""},            {"SHORT", 2.5, "2.5", "integer:2"},
      {"SHORT", 3.5, "", "integer:4"},           {"SHORT", -32768, "", "integer:-32768"},
      {"SHORT", true, "", "integer:-1"},         {"SHORT", 32767.5, "", ""},
      {"SHORT", "12a", "", ""},                  {"LONG", 2147483647.0, "", "integer:2147483647"},
      {"LONG", 2147483648.0, "", ""},            {"LONG", null, "NULL", "null:NULL"},
      {"LONG", error, "", ""},                   {"CURRENCY", 1.23456, "1.23456", "real:1.2346"},
      {"CURRENCY", 1e15, "", ""},                {"SINGLE", 1e39, "", ""},
      {"SINGLE", 0.1, "0.1", "real:1.00000001490116119384e-01"},
      {"DOUBLE", "1E+20", "", "real:1.0e+20"},   {"DOUBLE", nan, "", ""},
      {"FLOAT", 7, "", "real:7.0"},              {"DATETIME", "2023-02-29", "", ""},
      {"DATETIME", "2024-02-29", "'2024-02-29'", "text:'2024-02-29 00:00:00'"},
      {"DATETIME", "2024-03-01 13:45:10", "", "text:'2024-03-01 13:45:10'"},
      {"DATETIME", "31/12/2024", "'31/12/2024'", ""}, {"DATETIME", 1, "", ""},
      {"TIME", "23:59:59", "", "text:'23:59:59'"}, {"TIME", "24:00:00", "", ""},
      {"TEXT(3)", "äöü", "", "text:'äöü'"},      {"TEXT(3)", "abcd", "", ""},
      {"TEXT(10)", 2.5, "2.5", "text:'2.5'"},
      {"TEXT(10)", "ABCDEFGHIJK", "'ABCDEFGHIJKLMNOPQRS'", ""},
      {"CHAR(4)", "ab", "", "text:'ab  '"},       {"CHAR(6)", "AB", "'AB'", "text:'AB    '"},
      {"CHAR(2)", "abc", "", ""},                {"MEMO", true, "", "text:'True'"},
      {"BINARY(2)", "ab", "'ab'", "blob:X'6162'"}, {"BINARY(1)", "ab", "", ""},
      {"DECIMAL(18,0)", 2.5, "", "integer:2"},   {"DECIMAL(18,0)", 1e18, "1e18", ""},
      {"DECIMAL(18,0)", 1e17, "", "integer:100000000000000000"},
      {"DECIMAL(18,0)", {}, "999999999999999999", "integer:999999999999999999"},
      {"WHATEVER", 3, "", "integer:3"},          {"WHATEVER", "x", "'x'", "text:'x'"},
      {"WHATEVER", nan, "", ""}};
  // clang-format on
  TempDir dir;
  Database db = Database::Create(dir.Sub("t.mdb"));
  for (std::size_t i = 0; i < std::size(writes); ++i) {
    const Write& w = writes[i];
    SCOPED_TRACE(std::string(w.type) + " " + (w.value ? w.value->Describe() : w.literal));
    const std::string t = "T" + std::to_string(i), &lit = w.literal;
    db.Exec("CREATE TABLE " + t + " (Other LONG, F " + w.type + "); INSERT INTO " + t +
            " (Other) VALUES (0)");
    for (int k = w.value ? 0 : 1; k < (lit.empty() ? 1 : 3); ++k) {
      const Error e = ErrorOf([&] {
        if (k == 0) db.InsertRow(t, {{"Other", Short(1)}, {"F", *w.value}});
        if (k == 1) db.Execute("UPDATE " + t + " SET Other = 2, F = " + lit + " WHERE Other = 0");
        if (k == 2) db.Execute("INSERT INTO " + t + " (Other, F) VALUES (3, " + lit + ")");
      });
      std::string got = std::to_string(e.number());  // Execute's value is its own text
      for (const auto& [name, value] : e.details()) {
        got += "|" + name + ":" + (name != "value" || k == 0 ? value : "");
      }
      EXPECT_EQ(got, w.stored.empty() ? "3001|table:" + t + "|column:F|declared type:" + w.type +
                                            "|value:" + (k == 0 ? w.value->Describe() : "")
                                      : "0")
          << k;
    }
    const std::string& s = w.stored;
    EXPECT_EQ(
        DumpRows(db, "SELECT Other, typeof(F) || ':' || quote(F) FROM " + t + " ORDER BY Other"),
        s.empty() ? "0|null:NULL\n"
                  : (lit.empty() ? "0|null:NULL\n" : "") + (w.value ? "1|" + s + "\n" : "") +
                        (lit.empty() ? "" : "2|" + s + "\n3|" + s + "\n"));
  }
  // A value converted after the statement fires no other trigger again.
  db.Exec(
      "CREATE TABLE Flags (Flag YESNO); CREATE TABLE Audit (Note TEXT);"
      "CREATE TRIGGER Audited AFTER UPDATE ON Flags BEGIN INSERT INTO Audit VALUES ('u'); END;"
      "INSERT INTO Flags VALUES (0)");
  db.Execute("UPDATE Flags SET Flag = 'Yes'");
  EXPECT_EQ(DumpRows(db, "SELECT Flag, (SELECT count(*) FROM Audit) FROM Flags"), "-1|1\n");
}

// The recordset behaviours of the catalogue writer; Execute skips the rows
// that break a key and changes the others; a statement that cannot run, or
// changes no data, fails.
TEST(TypedRows, RecordsetBehavioursOfTheCatalogueWriterAndExecute) {
  TempDir dir;
  Database db = CreateAnalyserDatabase(dir.Sub("a.mdb"));
  EXPECT_FALSE(db.FirstRow("Tests", "").has_value());  // empty: no row
  // AddNew, set fields, Update; then set another field and Update again.
  const RowId test = db.InsertRow(
      "TESTS", {{"TESTS_ID", Short(12)}, {"Tests_Name", "abc"}, {"tests_defunits", "mg/dL"}});
  db.UpdateRow("Tests", test,
               {{"Tests_ReportingUnits", db.ReadField("Tests", test, "Tests_DefUnits")}});
  // Unknown fields, tables and sources; an update refused keeps the whole row.
  EXPECT_EQ(
      Numbers({[&] {
                 db.InsertRow("Tests", {{"NoSuch", 1.0}});
               },
               [&] { db.InsertRow("NoSuchTable", {}); },
               [&] {
                 db.UpdateRow("Tests", test, {{"Tests_Name", "NEW"}, {"Tests_Cycles", "300"}});
               },
               [&] { db.RowsOfSource("Kits", "SELECT Kits_ID FROM Kits"); }}),
      "3003 3002 3001 3015 ");
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

  db.Exec("DELETE FROM Tests; INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'A')");
  const auto changed = [&](const char* sql) { return db.Execute(sql).rows_changed; };
  EXPECT_EQ(
      changed("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'DUP'), (2, 'B'), (3, 'C')"), 2);
  EXPECT_EQ(DumpRows(db, "SELECT Tests_ID, Tests_Name FROM Tests ORDER BY 1"), "1|A\n2|B\n3|C\n");
  EXPECT_EQ(changed("update Tests SET Tests_ID = 3 WHERE Tests_ID = 2"), 0);
  EXPECT_EQ(changed("DELETE FROM Tests WHERE Tests_ID > 1"), 2);
  EXPECT_EQ(Numbers({[&] { changed("INSERT INTO Tests VALUES ("); },
                     [&] { changed("DELETE FROM NoSuchTable"); },
                     [&] { changed("UPDATE Tests SET NoSuch = 1"); },
                     [&] { changed("SELECT * FROM Tests"); }}),
            "1 1 1 3016 ");  // SQLITE_ERROR thrice
}

// One assay's worth of writer lookups on a Tests table of 100,000 rows reads
// a bounded number of rows: no statement runs a full scan.
TEST(TypedRows, OneAssaysLookupsUseTheKeysIndexes) {
  TempDir dir;
  Database db = CreateAnalyserDatabase(dir.Sub("a.mdb"));
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
    for (sqlite3_stmt* s = sqlite3_next_stmt(db.core().db(), nullptr); s != nullptr;
         s = sqlite3_next_stmt(db.core().db(), s)) {
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
  WriteFile(lock, "");  // left by a process that died
  EXPECT_EQ(ProbeLockFile(path), LockState::kStale);
  {
    Database taken_over = Database::Open(path);
    EXPECT_EQ(ProbeLockFile(path), LockState::kHeld);
  }
  EXPECT_FALSE(Exists(lock));
  WriteFile(lock, "");
  RemoveStaleLockFile(path);
  EXPECT_FALSE(Exists(lock));
  // A file that cannot be opened leaves no lock file.
  WriteFile(dir.Sub("junk.mdb"), std::string(4096, 'x'));
  EXPECT_EQ(Numbers({[&] { Database::Open(dir.Sub("none.mdb")); },
                     [&] { Database::Open(dir.Sub("junk.mdb")); }}),
            "53 26 ");  // SQLITE_NOTADB
  EXPECT_FALSE(Exists(dir.Sub("none.ldb")) || Exists(dir.Sub("junk.ldb")));

  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready) | ::pipe(done), 0);
  char c = 'r';
  if (const pid_t child = ::fork(); child == 0) {
    Database db = Database::Open(path);
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    db.Close();
    ::_exit(0);
  } else {
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(ProbeLockFile(path), LockState::kHeld);
    Database::Open(path).Close();  // cannot take the exclusive lock: the child holds it
    EXPECT_TRUE(Exists(lock));
    ASSERT_EQ(::write(done[1], &c, 1), 1);
    ::waitpid(child, nullptr, 0);
  }
  EXPECT_FALSE(Exists(lock));
}

}  // namespace
}  // namespace platform::engine
