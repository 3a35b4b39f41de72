// The engine: declared types, recordsets, the lock file, schema objects, whole files, snapshots.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <set>

#include "platform/engine/copy_database.h"
#include "platform/engine/database.h"
#include "platform/engine/engine_error.h"
#include "platform/engine/integrity.h"
#include "platform/engine/rows/database_core.h"
#include "platform/engine/schema.h"
#include "platform/engine/snapshot.h"
#include "tests/support/databases.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

// NewField values name only the members they set.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace platform::engine {
namespace {

using namespace std::string_literals;
using namespace testing_support;

std::string Cli(const std::string& database, const std::string& sql) {
  const auto r = Sqlite3(database, sql);
  return r.out + r.err;
}

std::string Failure(const std::function<void()>& call) {
  const Error e = ErrorOf(call);
  return std::to_string(e.number()) + " " + e.description();
}

std::string Numbers(std::initializer_list<std::function<void()>> calls) {
  std::string numbers;
  for (const auto& call : calls) numbers += std::to_string(ErrorOf(call).number()) + " ";
  return numbers;
}

const auto Short = [](int v) { return Value(static_cast<std::int16_t>(v)); };

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
      {"BYTE", " 7 ", "' 7 '", "integer:7"},     {"BYTE", 256, "300", ""},
      {"SHORT", 2.5, "2.5", "integer:2"},        {"SHORT", 32767.5, "", ""},
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
      {"TEXT(3)", "äöü", "", "text:'äöü'"},      {"TEXT(10)", 2.5, "2.5", "text:'2.5'"},
      {"TEXT(10)", "ABCDEFGHIJK", "'ABCDEFGHIJKLMNOPQRS'", ""},
      {"CHAR(6)", "AB", "'AB'", "text:'AB    '"},
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
  db.Exec(
      "INSERT INTO TestVolumes (TV_TestsID, TV_Part) VALUES (12, 0), (12, 1);"
      "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum) VALUES (12, 1), (12, 2);"
      "INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) VALUES (12, 'L1')");
  // Deleting a join source's rows removes the child rows, one at a time, not the Tests row.
  const auto ranges =
      db.RowsOfSource("TestRanges",
                      "SELECT TestRanges.* FROM Tests INNER JOIN TestRanges ON Tests.Tests_ID = "
                      "TestRanges.TR_TestsID WHERE (((TestRanges.TR_TestsID)= 12 ) AND "
                      "((UCASE(Tests.Tests_Name))= 'ABC' ));");
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
  for (int commit : {0, 1}) {  // a transaction not committed is rolled back
    Transaction t = db.Begin();
    db.InsertRow("Kits", {{"Kits_TestsID", Short(commit + 1)}});
    if (commit) t.Commit();
  }
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

// The writer's lookups for one test on tables of 100,000 rows read a bounded
// number of rows: every statement finds its rows by the keys' indexes.
TEST(TypedRows, OneAssaysLookupsUseTheKeysIndexes) {
  TempDir dir;
  Database db = CreateAnalyserDatabase(dir.Sub("a.mdb"));
  db.Exec(
      "CREATE TEMP TABLE n AS WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c "
      "WHERE i < 100000) SELECT i, i - 50000 AS k FROM c;"
      "INSERT INTO Tests (Tests_ID, Tests_Name) SELECT k, 'T' || i FROM n;"
      "INSERT INTO TestVolumes (TV_TestsID, TV_Part) SELECT k, 0 FROM n;"
      "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum) SELECT k, 1 FROM n;"
      "INSERT INTO Kits (Kits_TestsID) SELECT k FROM n");
  const auto steps = [&](int counter) {
    std::int64_t total = 0;
    for (sqlite3_stmt* s = sqlite3_next_stmt(db.core().db(), nullptr); s != nullptr;
         s = sqlite3_next_stmt(db.core().db(), s)) {
      total += sqlite3_stmt_status(s, counter, 1);
    }
    return total;
  };
  const auto apply_assay = [&](const std::string& n) {
    const auto test = db.FirstRow("Tests", "Tests_ID = " + n);
    ASSERT_TRUE(test.has_value());
    db.UpdateRow("Tests", *test, {{"Tests_FullName", "Lookup"}});
    const auto volume = db.FirstRow("TestVolumes", "TV_TestsID = " + n + " AND TV_Part = 0");
    ASSERT_TRUE(volume.has_value());
    db.UpdateRow("TestVolumes", *volume, {{"TV_ReagentVol", std::int32_t{5}}});
    EXPECT_TRUE(db.FirstRow("TestRanges", "TR_TestsID = " + n + " AND TR_RangeNum = 1"));
    EXPECT_EQ(
        db.RowsOfSource("TestRanges",
                        "SELECT TestRanges.* FROM Tests INNER JOIN TestRanges ON "
                        "Tests.Tests_ID = TestRanges.TR_TestsID WHERE (((TestRanges.TR_TestsID)= " +
                            n + " ) AND ((UCASE(Tests.Tests_Name))= 'T5" + n + "' ));")
            .size(),
        1u);
    EXPECT_EQ(db.RowsOfSource("Kits", "Select * From Kits Where Kits_TestsID = " + n).size(), 1u);
  };
  apply_assay("4321");  // the first run reads the schema, once per connection
  steps(SQLITE_STMTSTATUS_FULLSCAN_STEP);
  steps(SQLITE_STMTSTATUS_VM_STEP);
  apply_assay("1234");
  EXPECT_EQ(steps(SQLITE_STMTSTATUS_FULLSCAN_STEP), 0);
  EXPECT_LT(steps(SQLITE_STMTSTATUS_VM_STEP), 1000);  // a scan would be > 100,000
}

// Made by the first connection (any spelling of the path), removed by the last of any process.
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
  trace += state() + Numbers({[&] { Database::Open(dir.Sub("none.mdb")); }});
  EXPECT_EQ(trace + std::to_string(Exists(dir.Sub("none.ldb"))), lock + " 0- 2+ 2+ 0- 1+ 0- 53 0");

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

// Equal snapshots: nothing was created, dropped or emptied.
std::string SchemaAndCounts(Database& db) {
  std::string snapshot =
      DumpRows(db, "SELECT type, name, quote(sql) FROM sqlite_schema ORDER BY 1, 2");
  for (const auto& row : db.Query("SELECT name FROM sqlite_schema WHERE type = 'table'").rows) {
    const std::string table = row[0].ToText();
    snapshot += table + " rows " + DumpRows(db, "SELECT count(*) FROM " + QuoteIdentifier(table));
  }
  return snapshot;
}

class SchemaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.Exec("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'GLU'), (2, 'CHOL')");
    db_.Exec("INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) VALUES (1, 'L1')");
    before_ = SchemaAndCounts(db_);
  }
  std::string path() const { return dir_.Sub("a.mdb"); }

  TempDir dir_;
  Database db_ = CreateAnalyserDatabase(path());
  std::string before_;
};

TEST_F(SchemaTest, SavedQueriesCreateReplaceClashAndTheViewForOtherPrograms) {
  CreateSavedQuery(db_, "qryNames", "SELECT UCASE(Tests_Name) AS N FROM Tests ORDER BY Tests_ID;");
  CreateSavedQuery(db_, "qryClear", "UPDATE Tests SET Tests_FullName = 'x'");
  EXPECT_EQ(Numbers({[&] { CreateSavedQuery(db_, "tests", "SELECT 1"); },
                     [&] { CreateSavedQuery(db_, "qryBad", "UPDATE Tests SET NoSuch = 1"); },
                     [&] { DeleteSavedQuery(db_, "QRYCLEAR"); }}),  // exact name only
            "3007 1 3008 ");                                        // 1: SQLITE_ERROR
  DeleteSavedQuery(db_, "qryNames");
  // A text ending in a semicolon and a comment is one statement, and its view works.
  CreateSavedQuery(db_, "qryNames", "SELECT Tests_Name FROM Tests WHERE Tests_ID = 2; -- names");
  std::string names;
  for (const SavedQuery& q : SavedQueries(db_)) names += q.name + " ";
  EXPECT_EQ(names, "qryClear qryNames ");  // stored order
  EXPECT_EQ(RunSavedQuery(db_, "qryClear").rows_changed, 2);
  db_.Close();
  EXPECT_EQ(Cli(path(), "SELECT * FROM qryNames;"), "CHOL\n");
}

TEST_F(SchemaTest, AppendedFieldPropertiesAreStoredAndEnforcedForEveryProgram) {
  // Appending a field fires no trigger of another program.
  db_.Exec(
      "CREATE TABLE Audit (What TEXT); CREATE TRIGGER KitsAudit AFTER UPDATE ON Kits "
      "BEGIN INSERT INTO Audit VALUES ('updated'); END;");
  // clang-format off
  AppendField(db_, "KITS", {.name = "Kits_Level", .type_code = field_type::kInteger,
                            .default_value = "5", .required = true,
                            .validation_rule = ">=0 And <=100",
                            .validation_text = "Level must be 0 to 100"});
  AppendField(db_, "Kits", {.name = "Kits_Code", .type_code = field_type::kText, .size_text = "4",
                            .default_value = "\"AB\"", .allow_zero_length = false,
                            .validation_rule = "Like \"A*\" Or In (\"X\",\"Y\")"});
  // clang-format on
  std::string fields;
  for (const FieldInfo& f : TableFields(db_, "kits")) {
    const FieldProperties& p = f.properties;
    fields += f.name + " " + f.declared_type + (p.required ? " required" : "") +
              (p.allow_zero_length ? "" : " no-zero-length") +
              " default=" + p.default_value.Describe() + " rule=" + p.validation_rule +
              " text=" + p.validation_text + "\n";
  }
  EXPECT_EQ(fields.substr(fields.find("Kits_Level")),
            "Kits_Level SHORT required default=5 rule=>=0 And <=100 text=Level must be 0 to 100\n"
            "Kits_Code TEXT(4) no-zero-length default=\"\"AB\"\" rule=Like \"A*\" Or In "
            "(\"X\",\"Y\") text=\n");
  // The existing row holds null, with no row updated; a later row gets the defaults. Texts
  // compare without regard to letter case, in Like as in In.
  db_.Close();
  EXPECT_EQ(Cli(path(),
                "SELECT quote(Kits_Level), quote(Kits_Code), (SELECT count(*) FROM Audit) FROM "
                "Kits; INSERT INTO Kits (Kits_TestsID) VALUES (2); "
                "SELECT Kits_Level, Kits_Code FROM Kits WHERE Kits_TestsID = 2;"
                "INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (3, 'ay');"
                "INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (4, 'y');"
                "SELECT count(*) FROM Kits;"),
            "NULL|NULL|0\n5|AB\n4\n");
  // The sqlite3 tool is held to Required, the rule and AllowZeroLength.
  // clang-format off
  const std::pair<const char*, const char*> refused[] = {
      {"INSERT INTO Kits (Kits_TestsID, Kits_Level) VALUES (3, NULL);",
       "You must enter a value in the 'Kits.Kits_Level' field."},
      {"INSERT INTO Kits (Kits_TestsID, Kits_Level) VALUES (3, 101);", "Level must be 0 to 100"},
      {"UPDATE Kits SET Kits_Level = -1;", "Level must be 0 to 100"},
      {"INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (3, 'B');", "validation rule"},
      {"INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (3, '');", "zero-length"}};
  // clang-format on
  for (const auto& [sql, message] : refused) {
    EXPECT_NE(Cli(path(), sql).find(message), std::string::npos) << sql;
  }
}

// Names are stored exactly and name their views; texts hiding a second statement or a NUL are
// refused before anything changes.
TEST_F(SchemaTest, HostileQueryNamesAndTexts) {
  const std::vector<std::string> names = {
      "q\"; DROP TABLE Tests; --", "]; DELETE FROM Tests; [", "\"\"", ";", "--", "/*", "`Tests`"};
  std::string stored, listed;
  for (const std::string& name : names) {
    CreateSavedQuery(db_, name, "SELECT Tests_Name FROM Tests ORDER BY Tests_ID");
    EXPECT_EQ(DumpRows(db_, "SELECT * FROM " + QuoteIdentifier(name)), "GLU\nCHOL\n") << name;
    stored += name + "\n";
  }
  for (const SavedQuery& q : SavedQueries(db_)) listed += q.name + "\n";
  EXPECT_EQ(listed, stored);
  db_.Close();
  EXPECT_EQ(Cli(path(),
                "SELECT count(*) FROM sqlite_schema WHERE type = 'view';"
                "SELECT * FROM \"q\"\"; DROP TABLE Tests; --\"; SELECT count(*) FROM Tests;"),
            "7\nGLU\nCHOL\n2\n");
  db_ = Database::Open(path());
  for (const std::string& name : names) DeleteSavedQuery(db_, name);
  db_.Exec("DROP TABLE SavedQueries");
  EXPECT_EQ(SchemaAndCounts(db_), before_);

  const std::string misuse = "21 The SQL text holds ", two = misuse + "more than one statement",
                    nul = misuse + "a NUL character";
  // clang-format off
  const std::pair<std::string, std::string> texts[] = {
      {"SELECT 1; DROP TABLE Tests", two}, {"SELECT 1 /* x */; DELETE FROM Tests; --", two},
      {"SELECT 1\0; DROP TABLE Tests"s, nul},
      {"SELECT 1) AS x; DROP TABLE Tests; --", "1 near \")\": syntax error"},
      {"", misuse + "no statement"}, {"-- nothing", misuse + "no statement"}};
  // clang-format on
  for (const auto& [sql, outcome] : texts) {
    EXPECT_EQ(Failure([&] { CreateSavedQuery(db_, "qryHostile", sql); }), outcome) << sql;
  }
  const std::string nul_text = "SELECT 1 AS a\0 FROM Tests; DROP TABLE Tests"s;
  // clang-format off
  for (const auto& call : std::initializer_list<std::function<void()>>{
           [&] { CreateSavedQuery(db_, "q\0\"; DROP"s, "SELECT 1"); }, [&] { db_.Exec(nul_text); },
           [&] { db_.Execute(nul_text); }, [&] { db_.Query(nul_text); },
           [&] { AppendField(db_, "Kits", {.name = "F\0\"; DROP TABLE Tests; --"s}); },
           [&] { AppendField(db_, "Kits", {.name = "F", .type_code = field_type::kLong,
                                           .validation_rule = ">0",
                                           .validation_text = "no\0'); DROP TABLE Tests; --"s}); },
           [&] { AppendField(db_, "Kits", {.name = "F", .default_value = "a\0'; DROP"s}); }}) {
    EXPECT_EQ(Failure(call), nul);
  }
  // clang-format on
  EXPECT_EQ(SchemaAndCounts(db_), before_);
  // As a bound value a NUL is data like any other character.
  db_.UpdateRow("Kits", 1, {{"Kits_LotNumber", Value("L\0;--"s)}});
  EXPECT_EQ(db_.ReadField("Kits", 1, "Kits_LotNumber").ToText(), "L\0;--"s);
}

TEST_F(SchemaTest, TableFieldRuleAndTextNamesInjectNothing) {
  const std::string odd = "Odd\"; DROP TABLE Tests; --";
  db_.Exec("CREATE TABLE " + QuoteIdentifier(odd) + " (A LONG)");
  const NewField field = {.name = "x\"); DROP TABLE Tests; --",
                          .default_value = "\"it's\"\" ok\"",
                          .validation_rule = "<>\"'); DROP TABLE Tests; --\"",
                          .validation_text = "no ' way\"); DROP TABLE Tests; --"};
  AppendField(db_, "odd\"; drop table tests; --", field);
  EXPECT_EQ(TableFields(db_, "Tests").size(), 35u);
  db_.InsertRow(odd, {{"A", Value(std::int32_t{1})}});
  EXPECT_EQ(Failure([&] {
              db_.InsertRow(odd, {{field.name, "'); DROP TABLE Tests; --"}});
            }),
            "1811 no ' way\"); DROP TABLE Tests; --");
  EXPECT_EQ(
      DumpRows(db_,
               "SELECT \"x\"\"); DROP TABLE Tests; --\" FROM \"Odd\"\"; DROP TABLE Tests; --\""),
      "it's\" ok\n");
}

// Deleting a field recreates the views that compile as they were, one statement at a time (a
// text ending in a comment swallows nothing), and keeps the others' texts until they compile.
TEST_F(SchemaTest, DeleteFieldRecreatesTheViewsThatCompileAndKeepsTheOthersAsText) {
  AppendField(db_, "Kits", {.name = "Kits_Note", .size_text = "20", .required = true});
  CreateSavedQuery(db_, "qryNotes", "SELECT Kits_Note FROM Kits -- the notes");
  CreateSavedQuery(db_, "qryLots", "SELECT Kits_LotNumber FROM Kits /* the lots");
  CreateSavedQuery(db_, "qryLotsAgain", "SELECT * FROM qryLots");
  db_.Exec(
      "CREATE VIEW [Other Notes] AS SELECT Kits_Note AS N FROM Kits;"
      "CREATE VIEW IF NOT EXISTS OtherLots (L) AS SELECT Kits_LotNumber FROM Kits");
  const std::string views = "SELECT name FROM sqlite_schema WHERE type = 'view' ORDER BY 1";
  const std::string other_lots = "SELECT name, sql FROM sqlite_schema WHERE name = 'OtherLots'";
  const std::string before = DumpRows(db_, other_lots);
  DeleteField(db_, "kits", "KITS_NOTE");
  EXPECT_EQ(TableFields(db_, "Kits").size(), 4u);
  EXPECT_EQ(DumpRows(db_, views), "OtherLots\nqryLots\nqryLotsAgain\n");
  EXPECT_EQ(DumpRows(db_, other_lots), before);  // the same text
  EXPECT_EQ(DumpRows(db_, "SELECT Name, SQL FROM SavedQueries ORDER BY rowid"),
            "qryNotes|SELECT Kits_Note FROM Kits -- the notes\n"
            "qryLots|SELECT Kits_LotNumber FROM Kits /* the lots\n"
            "qryLotsAgain|SELECT * FROM qryLots\n"
            "Other Notes|SELECT Kits_Note AS N FROM Kits\n");
  EXPECT_EQ(MakeMissingViews(db_), (std::vector<std::string>{"qryNotes", "Other Notes"}));
  EXPECT_EQ(DumpRows(db_, "SELECT * FROM qryLotsAgain"), "L1\n");
  db_.InsertRow("Kits", {{"Kits_TestsID", Value(std::int16_t{2})}});  // Required is gone
  EXPECT_TRUE(db_.Query("SELECT * FROM SysFieldProperties").empty());
  db_.Begin().Commit();  // no savepoint was left open
  EXPECT_EQ(Numbers({[&] { RunSavedQuery(db_, "qryNotes"); },
                     [&] { DeleteField(db_, "Kits", "Kits_TestsID"); },
                     [&] { DeleteField(db_, "Tests", "Tests_ID"); },
                     [&] { DeleteField(db_, "Kits", "NoSuch"); }}),
            "1 3009 3009 3003 ");  // 1: SQLITE_ERROR
  EXPECT_EQ(TableFields(db_, "Kits").size(), 4u);
  AppendField(db_, "Kits", {.name = "Kits_Note", .size_text = "20"});
  EXPECT_EQ(MakeMissingViews(db_), std::vector<std::string>{});
  EXPECT_EQ(DumpRows(db_, views), "Other Notes\nOtherLots\nqryLots\nqryLotsAgain\nqryNotes\n");
}

// Refused before anything changes, as is a rule of thousands of Or terms (deeper than SQLite's
// parser takes: 1, SQLITE_ERROR); modest nesting is translated and enforced.
TEST_F(SchemaTest, AppendFieldRefusesBeforeAnythingChanges) {
  const auto rule_field = [](std::string rule) {
    return NewField{
        .name = "Kits_Level", .type_code = field_type::kLong, .validation_rule = std::move(rule)};
  };
  std::string not_chain, or_chain = "=0";
  for (int i = 0; i < 50000; ++i) not_chain += "Not ";
  for (int i = 1; i < 3000; ++i) or_chain += " Or =" + std::to_string(i);
  // clang-format off
  std::vector<std::pair<NewField, long>> cases = {  // size, size, type, default, name, rule
      {{.name = "F", .type_code = field_type::kText, .size_text = "abc"}, 3004},
      {{.name = "F", .type_code = field_type::kChar, .size_text = "256"}, 3004},
      {{.name = "F", .type_code = 99}, 3005},
      {{.name = "F", .type_code = field_type::kByte, .default_value = "300"}, 3001},
      {{.name = "kits_lotnumber", .type_code = field_type::kLong}, 3007},
      {rule_field(or_chain), 1}};
  for (const std::string& rule : {
           "> Date()"s, "Like \"[A\""s, "=1; DELETE FROM Tests"s, ">0 -- comment"s,
           "In (1, (SELECT 1))"s, ">0) THEN 1 END; DELETE FROM Tests; SELECT (1"s,
           "Like \"A*\" ESCAPE 'x'"s, "> [Kits_TestsID]"s, ">0\0; DROP TABLE Tests"s,
           std::string(100000, '('), std::string(100000, ')'), not_chain + ">0"}) {
    cases.push_back({rule_field(rule), engine_err::kUntranslatableRule});
  }
  // clang-format on
  for (const auto& [field, number] : cases) {
    const std::string rule = field.validation_rule.value_or("");
    EXPECT_EQ(ErrorOf([&] { AppendField(db_, "Kits", field); }).number(), number)
        << field.name << " " << rule.substr(0, 60);
    if (number == engine_err::kUntranslatableRule) {
      EXPECT_EQ(ErrorOf([&] { CheckValidationRule(rule); }).number(), number) << rule.substr(0, 60);
    }
    EXPECT_EQ(SchemaAndCounts(db_), before_);
  }
  AppendField(db_, "Kits",
              rule_field(std::string(40, '(') + ">0 And Not <-5" + std::string(40, ')')));
  db_.InsertRow("Kits", {{"Kits_TestsID", Value(std::int16_t{2})}, {"Kits_Level", Value(3)}});
  const Error broken = ErrorOf([&] {
    db_.InsertRow("Kits", {{"Kits_TestsID", Value(std::int16_t{3})}, {"Kits_Level", Value(-1)}});
  });
  EXPECT_EQ(broken.number(), SQLITE_CONSTRAINT_TRIGGER);
  EXPECT_EQ(broken.description().rfind("One or more values are prohibited", 0), 0u)
      << broken.description();
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

std::set<std::string> FolderEntries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Compaction and copies work in place: the file keeps its inode and its contents. The file
// is larger than SQLite's page cache, so that the compaction reads back pages it has written.
TEST(WholeFiles, CompactAndCopyInPlaceWithTheSameContents) {
  TempDir dir;
  const std::string path = dir.Sub("a.mdb"), copy = dir.Sub("copy.mdb");
  CreateAnalyserDatabase(path, SampleDataSql())
      .Exec(
          "CREATE TABLE Big (x);"
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 6000) "
          "INSERT INTO Big SELECT printf('%0900d', i) FROM n;"
          "DELETE FROM Big WHERE rowid % 3 > 0;");
  const std::string before = DumpDatabase(path);
  const auto size = std::filesystem::file_size(path);
  const ino_t inode = InodeOf(path);
  {
    Database open = Database::Open(path);
    EXPECT_EQ(ErrorOf([&] { CompactDatabase(path); }).number(), engine_err::kDatabaseInUse);
  }
  CompactDatabase(path);
  EXPECT_LT(std::filesystem::file_size(path), size);
  EXPECT_EQ(InodeOf(path), inode);
  EXPECT_EQ(DumpDatabase(path), before);
  EXPECT_FALSE(Exists(dir.Sub("a.ldb")) || Exists(path + "-journal"));

  CopyDatabase(path, copy);  // created
  EXPECT_EQ(DumpDatabase(copy), before);
  const ino_t copy_inode = InodeOf(copy);
  Database::Open(path).Exec("DELETE FROM Kits");
  CopyDatabase(path, copy);  // over it, in place
  EXPECT_EQ(InodeOf(copy), copy_inode);
  EXPECT_EQ(QueryCount(copy, "SELECT count(*) FROM Kits"), 0);
  const Error missing = ErrorOf([&] { CopyDatabase(dir.Sub("none.mdb"), copy); });
  EXPECT_EQ(std::to_string(missing.number()) + " " + DetailOf(missing, "source") + " " +
                DetailOf(missing, "destination"),
            "53 " + dir.Sub("none.mdb") + " " + copy);

  // Seven rows break a constraint that the schema gained afterwards: the check names five.
  const std::string bad = dir.Sub("bad.mdb");
  ASSERT_EQ(Sqlite3(bad,
                    "CREATE TABLE t(x); INSERT INTO t VALUES (NULL), (NULL), (NULL), (NULL), "
                    "(NULL), (NULL), (NULL); PRAGMA writable_schema = ON; UPDATE "
                    "sqlite_schema SET sql = 'CREATE TABLE t(x NOT NULL)' WHERE name = 't'")
                .exit_status,
            0);
  std::string problems;
  const Error damaged = ErrorOf([&] { CheckDatabaseIntegrity(bad); });
  for (const auto& [what, value] : damaged.details()) problems += what + ": " + value + "\n";
  std::string five;
  for (int i = 0; i < 5; ++i) five += "problem: NULL value in t.x\n";
  EXPECT_EQ(problems, "database: " + bad + "\n" + five);
}

// A file attached to an open database is held to the rules of every file the engine opens;
// the integrity check looks at the main file alone.
TEST(AttachedFiles, FollowTheEnginesRulesForItsFiles) {
  TempDir dir;
  const std::string other = dir.Sub("other.db");
  WriteFile(other, "");
  const auto link = [&](const std::string& name) {
    ASSERT_EQ(::symlink(other.c_str(), name.c_str()), 0);
  };
  const struct {
    const char* what;
    std::function<void(const std::string&)> make;
    std::string expected;  // {} stands for the path
  } cases[] = {
      {"missing", [](const std::string&) {}, "attached 0644 locked, wrote, unlocked"},
      {"read-only by its mode",
       [](const std::string& path) {
         Database::Create(path).Close();
         ChmodFile(path, 0444);
       },
       "attached 0444 locked, 8 read-only: {} (mode 0444), unlocked"},
      {"a link at its name", link, "57 link to: " + other},
      {"a link at its journal's name",
       [&](const std::string& path) {
         Database::Create(path).Close();
         link(path + "-journal");
       },
       "attached 0644 locked, wrote, unlocked"},
      {"a hot journal",
       [](const std::string& path) {
         Database::Create(path).Close();
         LeaveHotJournal(path);
       },
       "attached 0644 locked, wrote, 0 half-written, unlocked"},
      {"a folder", [](const std::string& path) { MakeFolders(path); },
       "57 system: not a regular file: a folder"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.Sub(std::string(c.what) + ".db");
    c.make(path);
    Database db = Database::Create(dir.Sub(std::string(c.what) + " main.mdb"));
    std::string outcome;
    if (const Error e = ErrorOf([&] { db.Attach(path, "attached"); }); e.number() != 0) {
      EXPECT_EQ(DetailOf(e, "database"), path) << c.what;
      outcome = std::to_string(e.number());
      for (const auto& [what, value] : e.details()) {
        if (what != "database" && what != "file") outcome += " " + what + ": " + value;
      }
    } else {
      struct stat st {};
      ::stat(path.c_str(), &st);
      char mode[8];
      std::snprintf(mode, sizeof mode, "%04o", st.st_mode & 07777);
      outcome = "attached "s + mode + (ProbeLockFile(path) == LockState::kHeld ? " locked" : "");
      const internal::AttachedFiles::Permit permit(db.core().attached);
      const Error write =
          ErrorOf([&] { db.core().connection.Exec("CREATE TABLE attached.T (x)"); });
      outcome += write.number() == 0 ? ", wrote"
                                     : ", " + std::to_string(write.number()) +
                                           " read-only: " + DetailOf(write, "read-only");
      if (std::string(c.what) == "a hot journal") {
        outcome += ", " +
                   DumpRows(db,
                            "SELECT count(*) FROM attached.Filler WHERE Note = "
                            "'HALF-WRITTEN'")
                       .substr(0, 1) +
                   " half-written";
      }
    }
    if (outcome.starts_with("attached")) {
      db.Detach("attached");
      outcome += ProbeLockFile(path) == LockState::kNone ? ", unlocked" : ", still locked";
    }
    size_t at = c.expected.find("{}");
    std::string expected = c.expected;
    if (at != std::string::npos) expected.replace(at, 2, path);
    EXPECT_EQ(outcome, expected) << c.what;
  }
  EXPECT_EQ(ReadFile(other), "");  // nothing written through a link

  const std::string damaged = dir.Sub("damaged.db");
  CreateAnalyserDatabase(damaged, SampleDataSql()).Close();
  DamageDatabase(damaged, Damage::kLoweredCellCount);
  Database db = Database::Create(dir.Sub("sound.mdb"));
  db.Attach(damaged, "attached");
  EXPECT_EQ(ErrorOf([&] { CheckIntegrity(db); }).number(), 0);
}

// "<kind> <table> <rowid> <column>=<old>><new> ..." of each change.
std::string Describe(const std::vector<RowChange>& changes) {
  std::string text;
  for (const RowChange& c : changes) {
    text += "IUD"[static_cast<int>(c.kind)] + (" " + c.table + " " + std::to_string(c.rowid));
    for (std::size_t i = 0; i < c.columns.size(); ++i) {
      text += " " + c.columns[i] + "=" + (c.old_values.empty() ? "" : c.old_values[i].Describe()) +
              ">" + (c.new_values.empty() ? "" : c.new_values[i].Describe());
    }
    text += "\n";
  }
  return text;
}

// The copy changes nothing on disk, leaves no file beside it. Its recorder reports net changes
// in first-touch order, a table rebuilt under its name with other columns under its new names.
TEST(Snapshot, InMemoryCopySizesAndRecorder) {
  TempDir dir;
  const std::string path = dir.Sub("Corvista1k.mdb");
  CreateAnalyserDatabase(path).Exec(
      "INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'GLU'), (2, 'CHOL');"
      "CREATE TABLE Notes (Text TEXT(20));"  // no primary key
      "INSERT INTO Notes VALUES ('kept'), ('old');");
  const std::string bytes = ReadFile(path);
  const std::set<std::string> entries = FolderEntries(dir.path());
  {
    Database copy = OpenInMemoryCopy(path);
    EXPECT_EQ(copy.path(), path);
    EXPECT_EQ(DumpRows(copy, "SELECT count(*) FROM Tests"), "2\n");
    EXPECT_EQ(FolderEntries(dir.path()), entries);  // no lock file while open
    copy.Exec("DELETE FROM Tests");
    copy.InsertRow("Tests", {{"Tests_ID", Value(9)}});
    copy.Exec(
        "CREATE TABLE Bulk (B TEXT); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
        "SELECT i + 1 FROM n WHERE i < 2000) INSERT INTO Bulk SELECT hex(randomblob(100)) "
        "FROM n; DELETE FROM Bulk;");
    const std::int64_t size = DatabaseSize(copy);
    EXPECT_LT(CompactedSize(copy), size);
    EXPECT_EQ(DatabaseSize(copy), size);
  }
  EXPECT_EQ(ReadFile(path), bytes);
  EXPECT_EQ(FolderEntries(dir.path()), entries);
  WriteFile(dir.Sub("text.mdb"), "not a database, but long enough to be read");
  EXPECT_EQ(Numbers({[&] { OpenInMemoryCopy(dir.Sub("absent.mdb")); },
                     [&] { OpenInMemoryCopy(dir.Sub("text.mdb")); }}),
            "53 26 ");  // SQLITE_NOTADB

  Database copy = OpenInMemoryCopy(path);
  copy.Exec("CREATE TABLE Small (ID INTEGER PRIMARY KEY, B TEXT(5))");
  ChangeRecorder recorder(copy);
  const RowId glu = *copy.FirstRow("Tests", "Tests_ID = 1");
  copy.UpdateRow("Tests", glu, {{"Tests_Name", "GLUC"}});
  copy.UpdateRow("Tests", glu, {{"Tests_FullName", "Glucose"}});
  copy.Exec("INSERT INTO Small VALUES (3, 'X'), (4, 'Y'); DELETE FROM Small WHERE ID = 4");
  const RowId chol = *copy.FirstRow("Tests", "Tests_ID = 2");
  copy.Exec("DELETE FROM Tests WHERE Tests_ID = 2");
  copy.Execute("UPDATE Notes SET Text = 'new' WHERE Text = 'old'");
  copy.Execute("UPDATE Notes SET Text = Text");  // changes nothing
  const std::vector<RowChange> changes = recorder.Take();
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(Describe({changes[0], changes[1], changes[3]}),
            "U Tests " + std::to_string(glu) +
                " Tests_Name=\"GLU\">\"GLUC\" Tests_FullName=Null>\"Glucose\"\n"
                "I Small 3 ID=>3 B=>\"X\"\nU Notes 2 Text=\"old\">\"new\"\n");
  const RowChange& deleted = changes[2];
  EXPECT_TRUE(deleted.kind == RowChange::Kind::kDeleted && deleted.rowid == chol &&
              deleted.new_values.empty());
  EXPECT_EQ(deleted.old_values.at(1).ToText(), "CHOL");  // Tests_Name is the second column
  EXPECT_TRUE(recorder.Take().empty());                  // Take starts afresh
  // A row replaced under its rowid is one update.
  copy.Exec("INSERT OR REPLACE INTO Small VALUES (3, 'Z')");
  EXPECT_EQ(Describe(recorder.Take()), "U Small 3 B=\"X\">\"Z\"\n");
  copy.Execute("UPDATE Notes SET Text = 'first' WHERE Text = 'kept'");
  ASSERT_EQ(Describe(recorder.Take()), "U Notes 1 Text=\"kept\">\"first\"\n");
  copy.Exec("DROP TABLE Notes; CREATE TABLE Notes (Body TEXT(20)); INSERT INTO Notes VALUES ('x')");
  EXPECT_EQ(Describe(recorder.Take()), "I Notes 1 Body=>\"x\"\n");
  // More rows than a window's scan finds, written again before and after it is left for an
  // index: still one change a row.
  copy.Exec(
      "WITH RECURSIVE n(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM n WHERE i < 49) INSERT INTO "
      "Small SELECT i, 'a' FROM n; UPDATE Small SET B = 'b' WHERE ID IN (10, 49); DELETE FROM "
      "Small WHERE ID = 11");
  const std::vector<RowChange> many = recorder.Take();
  ASSERT_EQ(many.size(), 39u);  // 40 inserted, one of them deleted again
  EXPECT_EQ(Describe({many.front(), many.back()}),
            "I Small 10 ID=>10 B=>\"b\"\nI Small 49 ID=>49 B=>\"b\"\n");
  // Values as the table reads them back: a whole number in a REAL column is a float, inserted or
  // left by an update of other columns. The typed rows' update reads the columns it assigns; a
  // trigger's write may change any.
  copy.Exec(
      "CREATE TABLE Ranges (ID INTEGER PRIMARY KEY, Low REAL, Note TEXT(9)); CREATE TRIGGER Noted "
      "AFTER UPDATE OF ID ON Ranges BEGIN UPDATE Ranges SET Note = 'moved' WHERE ID = new.ID; END; "
      "INSERT INTO Ranges VALUES (1, 70, 'a'), (2, 80, 'b')");
  recorder.Take();
  copy.InsertRow("Ranges", {{"ID", Value(3)}, {"Low", Value(90)}});
  copy.UpdateRow("Ranges", 1, {{"Note", "c"}});
  copy.UpdateRow("Ranges", 2, {{"ID", Value(2)}});
  const std::vector<RowChange> ranges = recorder.Take();
  EXPECT_EQ(Describe(ranges),
            "I Ranges 3 ID=>3 Low=>90 Note=>Null\nU Ranges 1 Note=\"a\">\"c\"\n"
            "U Ranges 2 Note=\"b\">\"moved\"\n");
  ASSERT_EQ(ranges.size(), 3u);
  EXPECT_EQ(ranges[0].new_values[1].kind(), ValueKind::kDouble);
}

}  // namespace
}  // namespace platform::engine
