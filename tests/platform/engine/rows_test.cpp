// Rows: typed writes (every value converted to its column's declared type,
// or the row refused whole), the recordset behaviours the catalogue writer
// relies on, Execute's skipping, index use of the lookups, and the lock
// file's life (created by the first connection, kept while any is open,
// removed by the last; a stale one taken over).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/engine/database.h"
#include "platform/engine/engine_error.h"
#include "platform/engine/rows/database_impl.h"
#include "tests/platform/engine/test_support.h"

namespace platform::engine {
namespace {

using testing::Dump;
using testing::ErrorOf;
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

// Each (declared type, value) pair written alone into a fresh table's
// column F of that type; `stored` holds, "|" between them, SQLite's
// typeof(F) || ':' || quote(F) of each row.
template <typename... Pairs>
void ExpectStored(const std::string& stored, const Pairs&... type_value_pairs) {
  const std::vector<Value> v = testing::Values(type_value_pairs...);
  TempDir dir;
  Database db = Database::Create(dir.Sub("t.mdb"));
  std::string got;
  for (std::size_t i = 0; i < v.size(); i += 2) {
    const std::string table = "T" + std::to_string(i);
    db.Exec("CREATE TABLE " + table + " (F " + v[i].ToText() + ")");
    db.InsertRow(table, {{"f", v[i + 1]}});
    got += Dump(db, "SELECT typeof(F) || ':' || quote(F) FROM " + table);
  }
  std::string want = stored + "\n";
  for (char& c : want) c = c == '|' ? '\n' : c;
  EXPECT_EQ(got, want);
}

TEST(TypedWrite, ConvertsAcceptedValuesToTheDeclaredType) {
  ExpectStored("integer:-1|integer:0|integer:-1|integer:-1|integer:0", "YESNO", true, "YESNO",
               false, "YESNO", std::int32_t{5}, "YESNO", "yes", "YESNO", " False ");
  ExpectStored("integer:2|integer:255|integer:4|integer:-32768|integer:-1|integer:2147483647",
               "BYTE", 2.5, "BYTE", " 255 ", "SHORT", 3.5, "SHORT", std::int32_t{-32768}, "SHORT",
               true, "LONG", 2147483647.0);
  ExpectStored("real:1.2346|real:1.00000001490116119384e-01|real:1.0e+20|real:7.0", "CURRENCY",
               1.23456, "SINGLE", 0.1, "DOUBLE", "1E+20", "FLOAT", std::int32_t{7});
  ExpectStored(
      "text:'2024-02-29 00:00:00'|text:'2024-03-01 13:45:10'|text:'23:59:59'|text:'äöü'"
      "|text:'2.5'|text:'ab  '|text:'True'|blob:X'6162'",
      "DATETIME", "2024-02-29", "DATETIME", "2024-03-01 13:45:10", "TIME", "23:59:59", "TEXT(3)",
      "äöü", "TEXT(10)", 2.5, "CHAR(4)", "ab", "MEMO", true, "BINARY(2)", "ab");
  ExpectStored("integer:2|integer:100000000000000000|null:NULL|integer:3", "DECIMAL(18,0)", 2.5,
               "DECIMAL(18,0)", 1e17, "LONG", Value::Null(), "WHATEVER", std::int32_t{3});
}

TEST(TypedWrite, RefusesValuesThatDoNotFitAndStoresNothingOfTheRow) {
  const std::vector<Value> v =
      testing::Values("YESNO", "maybe", "BYTE", std::int32_t{256}, "BYTE", std::int32_t{-1}, "BYTE",
                      true, "SHORT", 32767.5, "SHORT", "12a", "LONG", 2147483648.0, "CURRENCY",
                      1e15, "SINGLE", 1e39, "DATETIME", "2023-02-29", "DATETIME", "31/12/2024",
                      "DATETIME", std::int32_t{1}, "TIME", "24:00:00", "TEXT(3)", "abcd", "CHAR(2)",
                      "abc", "DECIMAL(18,0)", 1e18, "BINARY(1)", "ab", "LONG", Value::FromError(7));
  TempDir dir;
  Database db = Database::Create(dir.Sub("t.mdb"));
  for (std::size_t i = 0; i < v.size(); i += 2) {
    SCOPED_TRACE(v[i].ToText() + " " + v[i + 1].Describe());
    const std::string table = "T" + std::to_string(i);
    db.Exec("CREATE TABLE " + table + " (Other LONG, F " + v[i].ToText() + ")");
    const Error e = ErrorOf([&] { db.InsertRow(table, {{"Other", Short(1)}, {"F", v[i + 1]}}); });
    EXPECT_EQ(e.number(), engine_err::kValueDoesNotFit);
    EXPECT_EQ(e.details(), (std::vector<Error::Detail>{{"table", table},
                                                       {"column", "F"},
                                                       {"declared type", v[i].ToText()},
                                                       {"value", v[i + 1].Describe()}}));
    EXPECT_TRUE(db.Query("SELECT * FROM " + table).empty());
  }
  // An update refused keeps the whole row; unknown fields and tables.
  db = testing::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  const RowId row = db.InsertRow("tests", {{"TESTS_ID", Short(12)}, {"Tests_Name", Value("GLU")}});
  EXPECT_EQ(ErrorOf([&] {
              db.UpdateRow("Tests", row, {{"Tests_Name", "NEW"}, {"Tests_Cycles", "300"}});
            }).number(),
            engine_err::kValueDoesNotFit);
  EXPECT_EQ(db.ReadField("Tests", row, "Tests_Name").ToText(), "GLU");
  EXPECT_EQ(ErrorOf([&] {
              db.InsertRow("Tests", {{"NoSuch", 1.0}});
            }).number(),
            engine_err::kUnknownField);
  EXPECT_EQ(ErrorOf([&] { db.InsertRow("NoSuchTable", {}); }).number(), engine_err::kUnknownTable);
}

TEST(TypedRows, RecordsetBehavioursOfTheCatalogueWriter) {
  TempDir dir;
  Database db = testing::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  EXPECT_FALSE(db.FirstRow("Tests", "").has_value());  // empty: no row

  // AddNew, set fields, Update; then set another field and Update again.
  const RowId test = db.InsertRow(
      "TESTS", {{"TESTS_ID", Short(12)}, {"Tests_Name", "abc"}, {"tests_defunits", "mg/dL"}});
  db.UpdateRow("Tests", test,
               {{"Tests_ReportingUnits", db.ReadField("Tests", test, "Tests_DefUnits")}});
  EXPECT_EQ(Dump(db, "SELECT Tests_ReportingUnits, Tests_Name FROM Tests"), "mg/dL|abc\n");

  // Searching the key from the first row.
  EXPECT_EQ(db.FirstRow("Tests", "Tests_ID = 12"), test);
  EXPECT_FALSE(db.FirstRow("Tests", "Tests_ID = ?", std::vector<Value>{Short(13)}).has_value());

  for (int part = 0; part < 2; ++part) {
    db.InsertRow("TestVolumes", {{"TV_TestsID", Short(12)}, {"TV_Part", Short(part)}});
    db.InsertRow("TestRanges", {{"TR_TestsID", Short(12)}, {"TR_RangeNum", Short(part + 1)}});
  }
  db.InsertRow("Kits", {{"Kits_TestsID", Short(12)}, {"Kits_LotNumber", "L1"}});

  // Deleting the rows of a join source whose select list is one child
  // table's columns removes those child rows and leaves the Tests row.
  const auto ranges = db.RowsOfSource("TestRanges", RangesSource("12", "ABC"));
  ASSERT_EQ(ranges.size(), 2u);
  const std::string counts = "SELECT count(*) FROM TestRanges UNION ALL SELECT count(*) FROM Tests";
  db.DeleteRow("TestRanges", ranges[0]);  // the current row only
  EXPECT_EQ(Dump(db, counts), "1\n1\n");
  db.DeleteRow("TestRanges", ranges[1]);
  EXPECT_EQ(Dump(db, counts), "0\n1\n");

  EXPECT_EQ(db.RowsOfSource("Kits", "Select * From Kits Where Kits_TestsID = 12").size(), 1u);
  EXPECT_EQ(ErrorOf([&] { db.RowsOfSource("Kits", "SELECT Kits_ID FROM Kits"); }).number(),
            engine_err::kUnsupportedSource);

  // A later connection sees every change at once.
  Database other = Database::Open(dir.Sub("a.mdb"));
  EXPECT_EQ(Dump(other, "SELECT count(*), UCASE(NULL) FROM TestVolumes WHERE TV_TestsID = 12"),
            "2|NULL\n");
  EXPECT_EQ(Dump(other, "SELECT UCASE(Tests_Name) FROM Tests"), "ABC\n");

  // A transaction rolls back unless committed.
  {
    Transaction t = db.Begin();
    db.InsertRow("Kits", {{"Kits_TestsID", Short(1)}});
  }
  Transaction t = db.Begin();
  db.InsertRow("Kits", {{"Kits_TestsID", Short(2)}});
  t.Commit();
  EXPECT_EQ(Dump(db, "SELECT Kits_TestsID FROM Kits ORDER BY Kits_ID"), "12\n2\n");
}

TEST(Execute, SkipsDuplicateKeyRowsAndFailsOnStatementsThatCannotRun) {
  TempDir dir;
  Database db = testing::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  db.Exec("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'A')");
  EXPECT_EQ(
      db.Execute("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'DUP'), (2, 'B'), (3, 'C')")
          .rows_changed,
      2);
  EXPECT_EQ(Dump(db, "SELECT Tests_ID, Tests_Name FROM Tests ORDER BY 1"), "1|A\n2|B\n3|C\n");
  EXPECT_EQ(db.Execute("update Tests SET Tests_ID = 3 WHERE Tests_ID = 2").rows_changed, 0);
  EXPECT_EQ(db.Execute("DELETE FROM Tests WHERE Tests_ID > 1").rows_changed, 2);
  for (const char* sql :
       {"INSERT INTO Tests VALUES (", "DELETE FROM NoSuchTable", "UPDATE Tests SET NoSuch = 1"}) {
    EXPECT_EQ(ErrorOf([&] { db.Execute(sql); }).number(), SQLITE_ERROR) << sql;
  }
}

// What Execute stores is held to the declared types as the typed writes are:
// each (declared type, SQL literal) inserted and then set by an update,
// through Execute; `stored` is typeof(F) || ':' || quote(F), or empty when
// the value is refused (3001 naming table and column, nothing of the
// statement stored).
TEST(Execute, HoldsStoredValuesToTheDeclaredTypes) {
  struct Case {
    const char* type;
    const char* literal;
    const char* stored;
  };
  static constexpr Case kCases[] = {
      {"YESNO", "'True'", "integer:-1"},
      {"YESNO", "'maybe'", ""},
      {"BYTE", "'lots'", ""},
      {"BYTE", "' 7 '", "integer:7"},
      {"BYTE", "300", ""},
      {"SHORT", "2.5", "integer:2"},
      {"CHAR(6)", "'AB'", "text:'AB    '"},
      {"TEXT(10)", "'ABCDEFGHIJKLMNOPQRS'", ""},
      {"TEXT(10)", "2.5", "text:'2.5'"},
      {"SINGLE", "0.1", "real:1.00000001490116119384e-01"},
      {"CURRENCY", "1.23456", "real:1.2346"},
      {"DATETIME", "'2024-02-29'", "text:'2024-02-29 00:00:00'"},
      {"DATETIME", "'31/12/2024'", ""},
      {"DECIMAL(18,0)", "999999999999999999", "integer:999999999999999999"},
      {"DECIMAL(18,0)", "1e18", ""},
      {"BINARY(2)", "'ab'", "blob:X'6162'"},
      {"LONG", "NULL", "null:NULL"},
      {"WHATEVER", "'x'", "text:'x'"},
  };
  TempDir dir;
  Database db = Database::Create(dir.Sub("t.mdb"));
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    const Case& c = kCases[i];
    SCOPED_TRACE(std::string(c.type) + " " + c.literal);
    const std::string table = "T" + std::to_string(i);
    db.Exec("CREATE TABLE " + table + " (Other LONG, F " + c.type + ")");
    db.Exec("INSERT INTO " + table + " (Other) VALUES (0)");
    const std::string update = "UPDATE " + table + " SET Other = 2, F = " + c.literal;
    const std::string insert = "INSERT INTO " + table + " (Other, F) VALUES (1, " + c.literal + ")";
    const std::string rows = "SELECT Other, typeof(F) || ':' || quote(F) FROM " + table;
    if (*c.stored == '\0') {
      for (const std::string& sql : {update, insert}) {
        const Error e = ErrorOf([&] { db.Execute(sql); });
        EXPECT_EQ(e.number(), engine_err::kValueDoesNotFit) << sql;
        ASSERT_GE(e.details().size(), 2u);
        EXPECT_EQ(e.details()[0], (Error::Detail{"table", table}));
        EXPECT_EQ(e.details()[1], (Error::Detail{"column", "F"}));
      }
      EXPECT_EQ(Dump(db, rows), "0|null:NULL\n");
    } else {
      db.Execute(update);
      db.Execute(insert);
      EXPECT_EQ(Dump(db, rows + " ORDER BY Other"),
                "1|" + std::string(c.stored) + "\n2|" + c.stored + "\n");
    }
  }
  // A value converted after the statement fires no other trigger again.
  db.Exec(
      "CREATE TABLE Flags (Flag YESNO); CREATE TABLE Audit (Note TEXT);"
      "CREATE TRIGGER Audited AFTER UPDATE ON Flags BEGIN INSERT INTO Audit VALUES ('u'); END;"
      "INSERT INTO Flags VALUES (0)");
  db.Execute("UPDATE Flags SET Flag = 'Yes'");
  EXPECT_EQ(Dump(db, "SELECT Flag, (SELECT count(*) FROM Audit) FROM Flags"), "-1|1\n");
}

// One assay's worth of writer lookups on a Tests table of 100,000 rows reads
// a bounded number of rows: no statement runs a full scan.
TEST(TypedRows, OneAssaysLookupsUseTheKeysIndexes) {
  TempDir dir;
  Database db = testing::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  for (const char* insert : {"Tests (Tests_ID, Tests_Name) SELECT i - 50000, 'T' || i",
                             "TestVolumes (TV_TestsID, TV_Part) SELECT i - 50000, 0",
                             "TestRanges (TR_TestsID, TR_RangeNum) SELECT i - 50000, 1",
                             "Kits (Kits_TestsID) SELECT i - 50000"}) {
    db.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
        "INSERT INTO " +
        std::string(insert) + " FROM n");
  }
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
    db.UpdateRow("Tests", *test, {{"Tests_FullName", "Lookup"}});
    const auto volume = db.FirstRow("TestVolumes", "TV_TestsID = " + n + " AND TV_Part = 0");
    ASSERT_TRUE(volume.has_value());
    db.UpdateRow("TestVolumes", *volume, {{"TV_ReagentVol", std::int32_t{5}}});
    EXPECT_TRUE(db.FirstRow("TestRanges", "TR_TestsID = " + n + " AND TR_RangeNum = 1"));
    EXPECT_EQ(db.RowsOfSource("TestRanges", RangesSource(n, "T5" + n)).size(), 1u);
    EXPECT_EQ(db.RowsOfSource("Kits", "Select * From Kits Where Kits_TestsID = " + n).size(), 1u);
  };
  // The first run reads the schema (once per connection, whatever the size).
  apply_assay("4321");
  steps(SQLITE_STMTSTATUS_FULLSCAN_STEP);
  steps(SQLITE_STMTSTATUS_VM_STEP);
  apply_assay("1234");
  EXPECT_EQ(steps(SQLITE_STMTSTATUS_FULLSCAN_STEP), 0);
  EXPECT_LT(steps(SQLITE_STMTSTATUS_VM_STEP), 1000);  // a scan would be > 100,000
}

TEST(LockFile, LivesWhileAnyConnectionOfTheProcessIsOpen) {
  TempDir dir;
  const std::string path = dir.Sub("Analyser.mdb"), lock = dir.Sub("Analyser.ldb");
  Database::Create(path).Close();
  EXPECT_FALSE(Exists(lock));
  EXPECT_EQ(ProbeLockFile(path), LockState::kNone);
  Database first = Database::Open(path);
  EXPECT_TRUE(Exists(lock));
  {
    // Another spelling of the same path shares the process's one lock.
    Database second = Database::Open(dir.path() + "/./Analyser.mdb");
    EXPECT_EQ(ProbeLockFile(path), LockState::kHeld);
    RemoveStaleLockFile(path);  // held: stays
    EXPECT_TRUE(Exists(lock));
  }
  EXPECT_TRUE(Exists(lock));  // the first connection still holds it
  first.Close();
  first.Close();  // idempotent
  EXPECT_FALSE(Exists(lock));

  // One left by a process that died is stale, taken over and removed.
  testing_support::WriteFile(lock, "");
  EXPECT_EQ(ProbeLockFile(path), LockState::kStale);
  {
    Database db = Database::Open(path);
    EXPECT_EQ(ProbeLockFile(path), LockState::kHeld);
  }
  EXPECT_FALSE(Exists(lock));
  testing_support::WriteFile(lock, "");
  RemoveStaleLockFile(path);
  EXPECT_FALSE(Exists(lock));

  // A file that cannot be opened leaves no lock file.
  EXPECT_EQ(ErrorOf([&] { Database::Open(dir.Sub("none.mdb")); }).number(), err::kFileNotFound);
  testing_support::WriteFile(dir.Sub("junk.mdb"), std::string(4096, 'x'));
  EXPECT_EQ(ErrorOf([&] { Database::Open(dir.Sub("junk.mdb")); }).number(), SQLITE_NOTADB);
  EXPECT_FALSE(Exists(dir.Sub("none.ldb")));
  EXPECT_FALSE(Exists(dir.Sub("junk.ldb")));
}

TEST(LockFile, HeldByAnotherProcessIsSeenAndKept) {
  TempDir dir;
  const std::string path = dir.Sub("db.mdb");
  Database::Create(path).Close();
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
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
  { Database mine = Database::Open(path); }
  // Our last close could not take the exclusive lock: the child holds it.
  EXPECT_TRUE(Exists(dir.Sub("db.ldb")));
  ASSERT_EQ(::write(done[1], &c, 1), 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_FALSE(Exists(dir.Sub("db.ldb")));
}

}  // namespace
}  // namespace platform::engine
