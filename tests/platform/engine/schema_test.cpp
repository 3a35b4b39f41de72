// Schema objects: saved queries, appended and deleted fields with their
// properties enforced inside the file for every program, validation rules;
// and texts crafted to break out of the SQL the engine builds (names, query
// texts, rules, validation texts, defaults): each stored exactly as given or
// refused with a defined error, the file's schema and rows otherwise as they
// were.
#include "platform/engine/schema.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/engine/database.h"
#include "platform/engine/engine_error.h"
#include "tests/support/databases.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

// The tests build NewField values with designated initializers, naming only
// the members they set; GCC warns about every member left to its default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace platform::engine {
namespace {

using namespace std::string_literals;
using testing_support::CreateAnalyserDatabase;
using testing_support::DumpRows;
using testing_support::ErrorOf;
using testing_support::TempDir;

// The sqlite3 tool's standard output and error together.
std::string Cli(const std::string& database, const std::string& sql) {
  const auto r = testing_support::Sqlite3(database, sql);
  return r.out + r.err;
}

TEST(SavedQueries, CreateReplaceClashAndTheViewForOtherPrograms) {
  TempDir dir;
  const std::string path = dir.Sub("a.mdb");
  Database db = CreateAnalyserDatabase(path);
  db.Exec("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'glu'), (2, 'chol')");
  CreateSavedQuery(db, "qryNames", "SELECT UCASE(Tests_Name) AS N FROM Tests ORDER BY Tests_ID;");
  CreateSavedQuery(db, "qryClear", "UPDATE Tests SET Tests_FullName = 'x'");
  const struct {
    std::function<void()> call;
    long number;
  } refusals[] = {
      {[&] { CreateSavedQuery(db, "QRYNAMES", "SELECT 1"); }, engine_err::kNameInUse},
      {[&] { CreateSavedQuery(db, "tests", "SELECT 1"); }, engine_err::kNameInUse},
      {[&] { CreateSavedQuery(db, "qryBad", "SELECT FROM Tests"); }, SQLITE_ERROR},
      {[&] { CreateSavedQuery(db, "qryBad", "UPDATE Tests SET NoSuch = 1"); }, SQLITE_ERROR},
      {[&] { DeleteSavedQuery(db, "QRYCLEAR"); }, engine_err::kUnknownQuery},  // exact name only
  };
  for (const auto& r : refusals) EXPECT_EQ(ErrorOf(r.call).number(), r.number);

  // Replace: the caller deletes first, then creates.
  DeleteSavedQuery(db, "qryNames");
  // A text ending in a semicolon and a comment is one statement, and its view works.
  CreateSavedQuery(db, "qryNames", "SELECT Tests_Name FROM Tests WHERE Tests_ID = 2; -- names");
  std::string names;
  for (const SavedQuery& q : SavedQueries(db)) names += q.name + " ";
  EXPECT_EQ(names, "qryClear qryNames ");  // stored order
  EXPECT_EQ(RunSavedQuery(db, "qryClear").rows_changed, 2);
  db.Close();
  EXPECT_EQ(Cli(path, "SELECT * FROM qryNames;"), "chol\n");
}

std::string Describe(const FieldInfo& f) {
  const FieldProperties& p = f.properties;
  return f.name + " " + f.declared_type + (p.required ? " required" : "") +
         (p.allow_zero_length ? "" : " no-zero-length") + " default=" + p.default_value.Describe() +
         " rule=" + p.validation_rule + " text=" + p.validation_text;
}

TEST(AppendField, PropertiesAreStoredAndEnforcedForEveryProgram) {
  TempDir dir;
  const std::string path = dir.Sub("a.mdb");
  Database db = CreateAnalyserDatabase(path);
  db.Exec("INSERT INTO Kits (Kits_TestsID) VALUES (1)");
  // Another program's trigger: appending a field must not fire it.
  db.Exec(
      "CREATE TABLE Audit (What TEXT); CREATE TRIGGER KitsAudit AFTER UPDATE ON Kits "
      "BEGIN INSERT INTO Audit VALUES ('updated'); END;");
  AppendField(db, "KITS",
              {.name = "Kits_Level",
               .type_code = field_type::kInteger,
               .default_value = "5",
               .required = true,
               .validation_rule = ">=0 And <=100",
               .validation_text = "Level must be 0 to 100"});
  AppendField(db, "Kits",
              {.name = "Kits_Code",
               .type_code = field_type::kText,
               .size_text = "4",
               .default_value = "\"AB\"",
               .allow_zero_length = false,
               .validation_rule = "Like \"A*\" Or In (\"X\",\"Y\")"});
  const auto fields = TableFields(db, "kits");
  ASSERT_EQ(fields.size(), 6u);
  EXPECT_EQ(Describe(fields[4]) + "\n" + Describe(fields[5]),
            "Kits_Level SHORT required default=5 rule=>=0 And <=100 text=Level must be 0 to 100\n"
            "Kits_Code TEXT(4) no-zero-length default=\"\"AB\"\" rule=Like \"A*\" Or In "
            "(\"X\",\"Y\") text=");

  // The existing row holds null, with no row updated; a later row gets the defaults.
  db.Close();
  EXPECT_EQ(Cli(path,
                "SELECT quote(Kits_Level), quote(Kits_Code), (SELECT count(*) FROM Audit) "
                "FROM Kits;"),
            "NULL|NULL|0\n");
  EXPECT_EQ(Cli(path,
                "INSERT INTO Kits (Kits_TestsID) VALUES (2); "
                "SELECT Kits_Level, Kits_Code FROM Kits WHERE Kits_TestsID = 2;"),
            "5|AB\n");

  // The sqlite3 tool is held to Required, the rule and AllowZeroLength.
  const std::pair<const char*, const char*> refused[] = {
      {"INSERT INTO Kits (Kits_TestsID, Kits_Level) VALUES (3, NULL);",
       "You must enter a value in the 'Kits.Kits_Level' field."},
      {"INSERT INTO Kits (Kits_TestsID, Kits_Level) VALUES (3, 101);", "Level must be 0 to 100"},
      {"UPDATE Kits SET Kits_Level = -1;", "Level must be 0 to 100"},
      {"INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (3, 'B');", "validation rule"},
      {"INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (3, '');", "zero-length"}};
  for (const auto& [sql, message] : refused) {
    EXPECT_NE(Cli(path, sql).find(message), std::string::npos) << sql;
  }
  // Texts compare without regard to letter case, in Like as in In.
  EXPECT_EQ(Cli(path,
                "INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (3, 'ay');"
                "INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (4, 'y');"
                "SELECT count(*) FROM Kits;"),
            "4\n");
}

// Every schema object and every table's row count, as text: equal snapshots
// mean that nothing was created, dropped or emptied.
std::string SchemaAndCounts(Database& db) {
  std::string snapshot =
      DumpRows(db, "SELECT type, name, quote(sql) FROM sqlite_schema ORDER BY 1, 2");
  for (const auto& row : db.Query("SELECT name FROM sqlite_schema WHERE type = 'table'").rows) {
    const std::string table = row[0].ToText();
    snapshot += table + " rows " + DumpRows(db, "SELECT count(*) FROM " + QuoteIdentifier(table));
  }
  return snapshot;
}

class EngineHostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.Exec("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'GLU'), (2, 'CHOL')");
    db_.Exec("INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) VALUES (1, 'L1')");
    before_ = SchemaAndCounts(db_);
  }
  std::string path() const { return dir_.Sub("a.mdb"); }
  void ExpectUnchanged() {
    const std::string now = SchemaAndCounts(db_);
    EXPECT_TRUE(now == before_) << "schema or rows changed; now:\n" << now;
  }

  TempDir dir_;
  Database db_ = CreateAnalyserDatabase(path());
  std::string before_;
};

TEST_F(EngineHostileTest, QueryNamesAreStoredExactlyAndNameTheirViews) {
  const std::vector<std::string> names = {"q\"; DROP TABLE Tests; --",
                                          "]; DELETE FROM Tests; [",
                                          "q'); DELETE FROM Tests; --",
                                          "\"",
                                          "\"\"",
                                          ";",
                                          "--",
                                          "/*",
                                          "SELECT",
                                          "[Tests]",
                                          "`Tests`"};
  std::string stored;
  for (const std::string& name : names) {
    CreateSavedQuery(db_, name, "SELECT Tests_Name FROM Tests ORDER BY Tests_ID");
    EXPECT_EQ(DumpRows(db_, "SELECT * FROM " + QuoteIdentifier(name)), "GLU\nCHOL\n") << name;
    stored += name + "\n";
  }
  std::string listed;
  for (const SavedQuery& q : SavedQueries(db_)) listed += q.name + "\n";
  EXPECT_EQ(listed, stored);
  db_.Close();
  // Other programs see the views under the same names.
  EXPECT_EQ(Cli(path(),
                "SELECT count(*) FROM sqlite_schema WHERE type = 'view';"
                "SELECT * FROM \"q\"\"; DROP TABLE Tests; --\";"
                "SELECT count(*) FROM Tests;"),
            "11\nGLU\nCHOL\n2\n");
  db_ = Database::Open(path());
  for (const std::string& name : names) DeleteSavedQuery(db_, name);
  db_.Exec("DROP TABLE SavedQueries");
  ExpectUnchanged();
}

TEST_F(EngineHostileTest, QueryTextsThatHideASecondStatementAreRefused) {
  const std::string misuse = std::to_string(SQLITE_MISUSE) + " The SQL text holds ",
                    two = misuse + "more than one statement", nul = misuse + "a NUL character";
  const std::pair<std::string, std::string> cases[] = {
      {"SELECT 1; DROP TABLE Tests", two},
      {"SELECT 1 /* x */; DELETE FROM Tests; --", two},
      {"SELECT 1\0; DROP TABLE Tests"s, nul},
      {"SELECT 1\0"s, nul},
      {"SELECT 1) AS x; DROP TABLE Tests; --", "1 near \")\": syntax error"},
      {"", misuse + "no statement"},
      {"-- nothing", misuse + "no statement"}};
  for (const auto& [sql, outcome] : cases) {
    const Error e = ErrorOf([&] { CreateSavedQuery(db_, "qryHostile", sql); });
    EXPECT_EQ(std::to_string(e.number()) + " " + e.description(), outcome) << sql;
    ExpectUnchanged();
  }
}

TEST_F(EngineHostileTest, NamesAndTextsHoldingNulAreRefusedBeforeAnythingChanges) {
  const std::string nul_text = "SELECT 1 AS a\0 FROM Tests; DROP TABLE Tests"s;
  const auto nul_refusal = [](const Error& e) {
    return e.number() == SQLITE_MISUSE && e.description() == "The SQL text holds a NUL character";
  };
  EXPECT_PRED1(nul_refusal, ErrorOf([&] { CreateSavedQuery(db_, "q\0\"; DROP"s, "SELECT 1"); }));
  EXPECT_PRED1(nul_refusal, ErrorOf([&] { db_.Exec(nul_text); }));
  EXPECT_PRED1(nul_refusal, ErrorOf([&] { db_.Execute(nul_text); }));
  EXPECT_PRED1(nul_refusal, ErrorOf([&] { db_.Query(nul_text); }));
  const NewField fields[] = {{.name = "F\0\"; DROP TABLE Tests; --"s},
                             {.name = "F",
                              .type_code = field_type::kLong,
                              .validation_rule = ">0",
                              .validation_text = "no\0'); DROP TABLE Tests; --"s},
                             {.name = "F", .default_value = Value("a\0'; DROP TABLE Tests; --"s)}};
  for (const NewField& field : fields) {
    EXPECT_PRED1(nul_refusal, ErrorOf([&] { AppendField(db_, "Kits", field); }));
  }
  ExpectUnchanged();
  // As a bound value a NUL is data like any other character.
  db_.UpdateRow("Kits", 1, {{"Kits_LotNumber", Value("L\0;--"s)}});
  EXPECT_EQ(db_.ReadField("Kits", 1, "Kits_LotNumber").ToText(), "L\0;--"s);
}

// Table, field, default, rule and validation texts that quote their way out
// are kept as data.
TEST_F(EngineHostileTest, TableFieldRuleAndTextNamesInjectNothing) {
  db_.Exec("CREATE TABLE \"Odd\"\"; DROP TABLE Tests; --\" (A LONG)");
  const NewField field = {.name = "x\"); DROP TABLE Tests; --",
                          .default_value = "\"it's\"\" ok\"",
                          .validation_rule = "<>\"'); DROP TABLE Tests; --\"",
                          .validation_text = "no ' way\"); DROP TABLE Tests; --"};
  AppendField(db_, "odd\"; drop table tests; --", field);
  EXPECT_EQ(TableFields(db_, "Tests").size(), 35u);
  db_.InsertRow("Odd\"; DROP TABLE Tests; --", {{"A", Value(std::int32_t{1})}});
  EXPECT_EQ(
      ErrorOf([&] {
        db_.InsertRow("Odd\"; DROP TABLE Tests; --", {{field.name, "'); DROP TABLE Tests; --"}});
      }).description(),
      "no ' way\"); DROP TABLE Tests; --");
  EXPECT_EQ(
      DumpRows(db_,
               "SELECT \"x\"\"); DROP TABLE Tests; --\" FROM \"Odd\"\"; DROP TABLE Tests; --\""),
      "it's\" ok\n");
}

// Deleting a field recreates the views that still compile exactly as they
// were, one statement at a time (a saved SELECT whose text ends in a comment
// must not swallow the statements that follow it), and keeps the text of
// every other view, another program's too, as a saved query whose view comes
// back when it compiles again.
TEST_F(EngineHostileTest, DeleteFieldRecreatesTheViewsThatCompileAndKeepsTheOthersAsText) {
  AppendField(db_, "Kits", {.name = "Kits_Note", .size_text = "20", .required = true});
  CreateSavedQuery(db_, "qryNotes", "SELECT Kits_Note FROM Kits -- the notes");
  CreateSavedQuery(db_, "qryLots", "SELECT Kits_LotNumber FROM Kits /* the lots");
  CreateSavedQuery(db_, "qryLotsAgain", "SELECT * FROM qryLots");
  db_.Exec(
      "CREATE VIEW [Other Notes] AS SELECT Kits_Note AS N FROM Kits;"
      "CREATE VIEW IF NOT EXISTS OtherLots (L) AS SELECT Kits_LotNumber FROM Kits");
  const std::string views = "SELECT name, sql FROM sqlite_schema WHERE type = 'view' ORDER BY 1";
  const std::string before = DumpRows(db_, views);
  DeleteField(db_, "kits", "KITS_NOTE");
  EXPECT_EQ(TableFields(db_, "Kits").size(), 4u);
  EXPECT_EQ(DumpRows(db_, "SELECT name FROM sqlite_schema WHERE type = 'view' ORDER BY 1"),
            "OtherLots\nqryLots\nqryLotsAgain\n");
  EXPECT_NE(
      before.find(DumpRows(db_, "SELECT name, sql FROM sqlite_schema WHERE name = 'OtherLots'")),
      std::string::npos);  // the same text
  EXPECT_EQ(DumpRows(db_, "SELECT Name, SQL FROM SavedQueries ORDER BY rowid"),
            "qryNotes|SELECT Kits_Note FROM Kits -- the notes\n"
            "qryLots|SELECT Kits_LotNumber FROM Kits /* the lots\n"
            "qryLotsAgain|SELECT * FROM qryLots\n"
            "Other Notes|SELECT Kits_Note AS N FROM Kits\n");
  EXPECT_EQ(MakeMissingViews(db_), (std::vector<std::string>{"qryNotes", "Other Notes"}));
  EXPECT_EQ(ErrorOf([&] { RunSavedQuery(db_, "qryNotes"); }).number(), SQLITE_ERROR);
  EXPECT_EQ(DumpRows(db_, "SELECT * FROM qryLotsAgain"), "L1\n");
  db_.InsertRow("Kits", {{"Kits_TestsID", Value(std::int16_t{2})}});  // Required is gone
  EXPECT_TRUE(db_.Query("SELECT * FROM SysFieldProperties").empty());
  db_.Begin().Commit();  // no savepoint was left open

  const std::pair<const char*, long> refused[] = {{"Kits_TestsID", engine_err::kCannotDropField},
                                                  {"Tests_ID", engine_err::kCannotDropField},
                                                  {"NoSuch", engine_err::kUnknownField}};
  for (const auto& [field, number] : refused) {
    const char* table = std::string(field).starts_with("Tests") ? "Tests" : "Kits";
    EXPECT_EQ(ErrorOf([&] { DeleteField(db_, table, field); }).number(), number) << field;
  }
  EXPECT_EQ(TableFields(db_, "Kits").size(), 4u);

  AppendField(db_, "Kits", {.name = "Kits_Note", .size_text = "20"});
  EXPECT_EQ(MakeMissingViews(db_), std::vector<std::string>{});
  EXPECT_EQ(DumpRows(db_, "SELECT name FROM sqlite_schema WHERE type = 'view' ORDER BY 1"),
            "Other Notes\nOtherLots\nqryLots\nqryLotsAgain\nqryNotes\n");
}

TEST_F(EngineHostileTest, AppendFieldRefusesBeforeAnythingChanges) {
  const std::pair<NewField, long> cases[] = {
      {{.name = "F", .type_code = field_type::kText, .size_text = "abc"},
       engine_err::kBadFieldSize},
      {{.name = "F", .type_code = field_type::kChar, .size_text = "256"},
       engine_err::kBadFieldSize},
      {{.name = "F", .type_code = 99}, engine_err::kUnknownFieldType},
      {{.name = "F", .type_code = field_type::kByte, .default_value = "300"},
       engine_err::kValueDoesNotFit},
      {{.name = "kits_lotnumber", .type_code = field_type::kLong}, engine_err::kNameInUse}};
  for (const auto& [field, number] : cases) {
    EXPECT_EQ(ErrorOf([&] { AppendField(db_, "Kits", field); }).number(), number) << field.name;
    ExpectUnchanged();
  }
}

NewField RuleField(std::string rule) {
  return {.name = "Kits_Level", .type_code = field_type::kLong, .validation_rule = std::move(rule)};
}

TEST_F(EngineHostileTest, RulesThatTryToLeaveTheTriggerAreRefused) {
  std::vector<std::string> rules = {"> Date()",
                                    "Like \"[A\"",
                                    "1) ; DROP TABLE Tests; --",
                                    ">0 OR 1=1) BEGIN DELETE FROM Tests; END; --",
                                    ">0) THEN 1 END; DELETE FROM Tests; SELECT (1",
                                    "=1; DELETE FROM Tests",
                                    ">0 -- comment",
                                    "Like \"A*\" ESCAPE 'x'",
                                    "In (1, (SELECT 1))",
                                    "> [Kits_TestsID]",
                                    ">0\0; DROP TABLE Tests"s,
                                    std::string(100000, '('),
                                    std::string(100000, ')'),
                                    std::string(50000, '(') + ">0" + std::string(50000, ')')};
  std::string not_chain;
  for (int i = 0; i < 50000; ++i) not_chain += "Not ";
  rules.push_back(not_chain + ">0");
  for (const std::string& rule : rules) {
    const Error e = ErrorOf([&] { AppendField(db_, "Kits", RuleField(rule)); });
    EXPECT_EQ(e.number(), engine_err::kUntranslatableRule) << rule.substr(0, 60);
    EXPECT_EQ(ErrorOf([&] { CheckValidationRule(rule); }).number(), engine_err::kUntranslatableRule)
        << rule.substr(0, 60);
    ExpectUnchanged();
  }
}

TEST_F(EngineHostileTest, ModestNestingIsTranslatedAndEnforced) {
  AppendField(db_, "Kits",
              RuleField(std::string(40, '(') + ">0 And Not <-5" + std::string(40, ')')));
  db_.InsertRow("Kits", {{"Kits_TestsID", Value(std::int16_t{2})}, {"Kits_Level", Value(3)}});
  const Error broken = ErrorOf([&] {
    db_.InsertRow("Kits", {{"Kits_TestsID", Value(std::int16_t{3})}, {"Kits_Level", Value(-1)}});
  });
  EXPECT_EQ(broken.number(), SQLITE_CONSTRAINT_TRIGGER);
  EXPECT_EQ(broken.description().rfind("One or more values are prohibited", 0), 0u)
      << broken.description();
}

// A rule can be long without nesting: thousands of Or terms make an SQL
// expression deeper than SQLite's parser takes, which fails the append as a
// whole.
TEST_F(EngineHostileTest, ARuleTooDeepForSqliteFailsTheWholeAppend) {
  std::string rule = "=0";
  for (int i = 1; i < 3000; ++i) rule += " Or =" + std::to_string(i);
  const Error e = ErrorOf([&] { AppendField(db_, "Kits", RuleField(rule)); });
  EXPECT_EQ(e.number(), SQLITE_ERROR) << e.description();  // "parser stack overflow" in 3.40
  ExpectUnchanged();
}

}  // namespace
}  // namespace platform::engine
