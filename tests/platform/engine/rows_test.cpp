// Connections and rows: declared types, the catalogue writer's recordset, the lock file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <limits>
#include <optional>

#include "platform/engine/database.h"
#include "platform/engine/engine_error.h"
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

// The catalogue writer's source of one test's ranges: a join selecting one child table's columns.
std::string RangesSource(const std::string& number, const std::string& upper_name) {
  return "SELECT TestRanges.* FROM Tests INNER JOIN TestRanges ON Tests.Tests_ID = "
         "TestRanges.TR_TestsID WHERE (((TestRanges.TR_TestsID)= " +
         number + " ) AND ((UCASE(Tests.Tests_Name))= '" + upper_name + "' ));";
}

// A value written by InsertRow and, as a literal (when given), by Execute's UPDATE and INSERT.
// `stored`: typeof(F) || ':' || quote(F) of each write; "": each write fails with 3001 and its
// details, storing nothing of its row or statement.
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

// Execute skips the rows that break a key and changes the others.
TEST(TypedRows, RecordsetBehavioursOfTheCatalogueWriterAndExecute) {
  TempDir dir;
  Database db = CreateAnalyserDatabase(dir.Sub("a.mdb"));
  EXPECT_FALSE(db.FirstRow("Tests", "").has_value());  // empty: no row
  const RowId test = db.InsertRow(
      "TESTS", {{"TESTS_ID", Short(12)}, {"Tests_Name", "abc"}, {"tests_defunits", "mg/dL"}});
  db.UpdateRow("Tests", test,
               {{"Tests_ReportingUnits", db.ReadField("Tests", test, "Tests_DefUnits")}});
  // Unknown fields, tables and sources; an update refused keeps the whole row.
  // clang-format off
  EXPECT_EQ(Numbers({
      [&] { db.InsertRow("Tests", {{"NoSuch", 1.0}}); }, [&] { db.InsertRow("NoSuchTable", {}); },
      [&] { db.UpdateRow("Tests", test, {{"Tests_Name", "N"}, {"Tests_Cycles", "300"}}); },
      [&] { db.RowsOfSource("Kits", "SELECT Kits_ID FROM Kits"); }}),
            "3003 3002 3001 3015 ");
  // clang-format on
  EXPECT_EQ(DumpRows(db, "SELECT Tests_ReportingUnits, Tests_Name FROM Tests"), "mg/dL|abc\n");
  EXPECT_EQ(db.FirstRow("Tests", "Tests_ID = 12"), test);
  EXPECT_FALSE(db.FirstRow("Tests", "Tests_ID = ?", std::vector<Value>{Short(13)}).has_value());
  for (int part = 0; part < 2; ++part) {
    db.InsertRow("TestVolumes", {{"TV_TestsID", Short(12)}, {"TV_Part", Short(part)}});
    db.InsertRow("TestRanges", {{"TR_TestsID", Short(12)}, {"TR_RangeNum", Short(part + 1)}});
  }
  db.InsertRow("Kits", {{"Kits_TestsID", Short(12)}, {"Kits_LotNumber", "L1"}});
  // Deleting a join source's rows removes the child rows, one at a time, not the Tests row.
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
  // clang-format off
  EXPECT_EQ(Numbers({[&] { changed("INSERT INTO Tests VALUES ("); },
                     [&] { changed("DELETE FROM NoSuchTable"); },
                     [&] { changed("UPDATE Tests SET NoSuch = 1"); },
                     [&] { changed("SELECT * FROM Tests"); }}),
            "1 1 1 3016 ");  // SQLITE_ERROR thrice
  // clang-format on
}

// Made by the first connection (any spelling of the path), kept while any is open, in this
// process or another, removed by the last.
TEST(LockFile, LivesWhileAnyConnectionIsOpen) {
  TempDir dir;
  const std::string path = dir.Sub("Analyser.mdb"), lock = dir.Sub("Analyser.ldb");
  const auto state = [&] {  // probe: 0 none, 1 stale, 2 held; + when the file exists
    return std::to_string(static_cast<int>(ProbeLockFile(path))) + (Exists(lock) ? "+ " : "- ");
  };
  Database::Create(path).Close();
  std::string trace = LockFileOf(path) + " " + state();
  Database first = Database::Open(path);
  {
    Database second = Database::Open(dir.path() + "/./Analyser.mdb");
    RemoveStaleLockFile(path);  // held: stays
    trace += state();
  }
  trace += state();
  first.Close();
  first.Close();  // idempotent
  trace += state();
  WriteFile(lock, "");  // left by a process that died
  trace += state();
  RemoveStaleLockFile(path);
  trace += state();
  EXPECT_EQ(trace, lock + " 0- 2+ 2+ 0- 1+ 0- ");

  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready) | ::pipe(done), 0);
  char c = 'r';
  if (const pid_t child = ::fork(); child == 0) {
    Database db = Database::Open(path);
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    db.Close();
    ::_exit(0);
  }
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  trace = state();
  Database::Open(path).Close();  // cannot take the exclusive lock: the child holds it
  trace += state();
  ASSERT_EQ(::write(done[1], &c, 1), 1);
  ::wait(nullptr);
  EXPECT_EQ(trace + state(), "2+ 2+ 0- ");
}

}  // namespace
}  // namespace platform::engine
