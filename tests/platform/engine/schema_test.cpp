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
using namespace testing_support;

// The sqlite3 tool's standard output and error together.
std::string Cli(const std::string& database, const std::string& sql) {
  const auto r = Sqlite3(database, sql);
  return r.out + r.err;
}

// "<number> <description>" of the failure of `call` ("0 " when none).
std::string Failure(const std::function<void()>& call) {
  const Error e = ErrorOf(call);
  return std::to_string(e.number()) + " " + e.description();
}

// The numbers of the failures of `calls`, each followed by a space (0: none).
std::string Numbers(std::initializer_list<std::function<void()>> calls) {
  std::string numbers;
  for (const auto& call : calls) numbers += std::to_string(ErrorOf(call).number()) + " ";
  return numbers;
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

class SchemaTest : public ::testing::Test {
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

TEST_F(SchemaTest, SavedQueriesCreateReplaceClashAndTheViewForOtherPrograms) {
  CreateSavedQuery(db_, "qryNames", "SELECT UCASE(Tests_Name) AS N FROM Tests ORDER BY Tests_ID;");
  CreateSavedQuery(db_, "qryClear", "UPDATE Tests SET Tests_FullName = 'x'");
  EXPECT_EQ(Numbers({[&] { CreateSavedQuery(db_, "QRYNAMES", "SELECT 1"); },
                     [&] { CreateSavedQuery(db_, "tests", "SELECT 1"); },
                     [&] { CreateSavedQuery(db_, "qryBad", "SELECT FROM Tests"); },
                     [&] { CreateSavedQuery(db_, "qryBad", "UPDATE Tests SET NoSuch = 1"); },
                     [&] { DeleteSavedQuery(db_, "QRYCLEAR"); }}),  // exact name only
            "3007 3007 1 1 3008 ");                                 // 1: SQLITE_ERROR
  // Replace: the caller deletes first, then creates.
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
  // Another program's trigger: appending a field must not fire it.
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
  // The existing row holds null, with no row updated; a later row gets the defaults.
  db_.Close();
  EXPECT_EQ(Cli(path(),
                "SELECT quote(Kits_Level), quote(Kits_Code), (SELECT count(*) FROM Audit) FROM "
                "Kits; INSERT INTO Kits (Kits_TestsID) VALUES (2); "
                "SELECT Kits_Level, Kits_Code FROM Kits WHERE Kits_TestsID = 2;"),
            "NULL|NULL|0\n5|AB\n");
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
  // Texts compare without regard to letter case, in Like as in In.
  EXPECT_EQ(Cli(path(),
                "INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (3, 'ay');"
                "INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (4, 'y');"
                "SELECT count(*) FROM Kits;"),
            "4\n");
}

// Names are stored exactly and name their views; texts that hide a second
// statement, and names and texts holding NUL, are refused before anything
// changes.
TEST_F(SchemaTest, HostileQueryNamesAndTexts) {
  // clang-format off
  const std::vector<std::string> names = {
      "q\"; DROP TABLE Tests; --", "]; DELETE FROM Tests; [", "q'); DELETE FROM Tests; --", "\"",
      "\"\"", ";", "--", "/*", "SELECT", "[Tests]", "`Tests`"};
  // clang-format on
  std::string stored, listed;
  for (const std::string& name : names) {
    CreateSavedQuery(db_, name, "SELECT Tests_Name FROM Tests ORDER BY Tests_ID");
    EXPECT_EQ(DumpRows(db_, "SELECT * FROM " + QuoteIdentifier(name)), "GLU\nCHOL\n") << name;
    stored += name + "\n";
  }
  for (const SavedQuery& q : SavedQueries(db_)) listed += q.name + "\n";
  EXPECT_EQ(listed, stored);
  db_.Close();
  // Other programs see the views under the same names.
  EXPECT_EQ(Cli(path(),
                "SELECT count(*) FROM sqlite_schema WHERE type = 'view';"
                "SELECT * FROM \"q\"\"; DROP TABLE Tests; --\"; SELECT count(*) FROM Tests;"),
            "11\nGLU\nCHOL\n2\n");
  db_ = Database::Open(path());
  for (const std::string& name : names) DeleteSavedQuery(db_, name);
  db_.Exec("DROP TABLE SavedQueries");
  ExpectUnchanged();

  const std::string misuse = "21 The SQL text holds ", two = misuse + "more than one statement",
                    nul = misuse + "a NUL character";
  // clang-format off
  const std::pair<std::string, std::string> texts[] = {
      {"SELECT 1; DROP TABLE Tests", two}, {"SELECT 1 /* x */; DELETE FROM Tests; --", two},
      {"SELECT 1\0; DROP TABLE Tests"s, nul}, {"SELECT 1\0"s, nul},
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
  ExpectUnchanged();
  // As a bound value a NUL is data like any other character.
  db_.UpdateRow("Kits", 1, {{"Kits_LotNumber", Value("L\0;--"s)}});
  EXPECT_EQ(db_.ReadField("Kits", 1, "Kits_LotNumber").ToText(), "L\0;--"s);
}

// Table, field, default, rule and validation texts that quote their way out
// are kept as data.
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

// Deleting a field recreates the views that still compile exactly as they
// were, one statement at a time (a saved SELECT whose text ends in a comment
// must not swallow the statements that follow it), and keeps the text of
// every other view, another program's too, as a saved query whose view comes
// back when it compiles again.
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

// Bad sizes, types, defaults and names, and rules that try to leave the
// trigger, are refused before anything changes; so is a rule long without
// nesting (thousands of Or terms) that makes an SQL expression deeper than
// SQLite's parser takes. Modest nesting is translated and enforced.
TEST_F(SchemaTest, AppendFieldRefusesBeforeAnythingChanges) {
  // clang-format off
  const std::pair<NewField, long> cases[] = {  // size, size, type, default, name
      {{.name = "F", .type_code = field_type::kText, .size_text = "abc"}, 3004},
      {{.name = "F", .type_code = field_type::kChar, .size_text = "256"}, 3004},
      {{.name = "F", .type_code = 99}, 3005},
      {{.name = "F", .type_code = field_type::kByte, .default_value = "300"}, 3001},
      {{.name = "kits_lotnumber", .type_code = field_type::kLong}, 3007}};
  // clang-format on
  for (const auto& [field, number] : cases) {
    EXPECT_EQ(ErrorOf([&] { AppendField(db_, "Kits", field); }).number(), number) << field.name;
    ExpectUnchanged();
  }
  const auto rule_field = [](std::string rule) {
    return NewField{
        .name = "Kits_Level", .type_code = field_type::kLong, .validation_rule = std::move(rule)};
  };
  std::string not_chain, or_chain = "=0";
  for (int i = 0; i < 50000; ++i) not_chain += "Not ";
  for (int i = 1; i < 3000; ++i) or_chain += " Or =" + std::to_string(i);
  // clang-format off
  const std::string rules[] = {
      "> Date()", "Like \"[A\"", "1) ; DROP TABLE Tests; --", "=1; DELETE FROM Tests",
      ">0 OR 1=1) BEGIN DELETE FROM Tests; END; --", ">0) THEN 1 END; DELETE FROM Tests; SELECT (1",
      ">0 -- comment", "Like \"A*\" ESCAPE 'x'", "In (1, (SELECT 1))", "> [Kits_TestsID]",
      ">0\0; DROP TABLE Tests"s, std::string(100000, '('), std::string(100000, ')'),
      std::string(50000, '(') + ">0" + std::string(50000, ')'), not_chain + ">0", or_chain};
  // clang-format on
  for (const std::string& rule : rules) {
    const long number = rule == or_chain ? SQLITE_ERROR : engine_err::kUntranslatableRule;
    EXPECT_EQ(ErrorOf([&] { AppendField(db_, "Kits", rule_field(rule)); }).number(), number)
        << rule.substr(0, 60);
    if (rule != or_chain) {
      EXPECT_EQ(ErrorOf([&] { CheckValidationRule(rule); }).number(), number) << rule.substr(0, 60);
    }
    ExpectUnchanged();
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

}  // namespace
}  // namespace platform::engine
