// Schema objects: saved queries, appended and deleted fields with their
// properties enforced inside the file, compaction.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include "platform/engine/database.h"
#include "platform/engine/engine_error.h"
#include "platform/engine/schema.h"
#include "tests/platform/engine_test_support.h"

namespace platform::engine {
namespace {

using testing::ErrorOf;
using testing::Sqlite3;
using testing_support::TempDir;

NewField FieldOf(std::string name, int type_code, std::string size_text = "") {
  NewField field;
  field.name = std::move(name);
  field.type_code = type_code;
  field.size_text = std::move(size_text);
  return field;
}

NewField WithRule(NewField field, std::string rule) {
  field.validation_rule = std::move(rule);
  return field;
}

NewField WithDefault(NewField field, Value value) {
  field.default_value = std::move(value);
  return field;
}

TEST(SavedQueries, CreateReplaceClashAndTheViewForOtherPrograms) {
  TempDir dir;
  const std::string path = dir.Sub("a.mdb");
  Database db = testing::CreateAnalyserDatabase(path);
  db.Exec("INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'glu'), (2, 'chol')");
  CreateSavedQuery(db, "qryNames", "SELECT UCASE(Tests_Name) AS N FROM Tests ORDER BY Tests_ID;");
  CreateSavedQuery(db, "qryClear", "UPDATE Tests SET Tests_FullName = 'x'");
  EXPECT_EQ(ErrorOf([&] { CreateSavedQuery(db, "QRYNAMES", "SELECT 1"); }).number(),
            engine_err::kNameInUse);
  EXPECT_EQ(ErrorOf([&] { CreateSavedQuery(db, "tests", "SELECT 1"); }).number(),
            engine_err::kNameInUse);
  EXPECT_EQ(ErrorOf([&] { CreateSavedQuery(db, "qryBad", "SELECT NoSuch FROM Tests"); }).number(),
            1);  // SQLITE_ERROR: must prepare
  EXPECT_EQ(ErrorOf([&] { DeleteSavedQuery(db, "QRYCLEAR"); }).number(),
            engine_err::kUnknownQuery);  // exact name only

  // Replace: the caller deletes first, then creates.
  DeleteSavedQuery(db, "qryNames");
  CreateSavedQuery(db, "qryNames", "SELECT Tests_Name AS N FROM Tests WHERE Tests_ID = 2");
  const auto queries = SavedQueries(db);
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(queries[0].name, "qryClear");  // stored order
  EXPECT_EQ(queries[1].name, "qryNames");
  EXPECT_EQ(RunSavedQuery(db, "qryClear").rows_changed, 2);
  db.Close();

  const auto cli = Sqlite3(path, "SELECT * FROM qryNames;");
  EXPECT_EQ(cli.exit_status, 0) << cli.err;
  EXPECT_EQ(cli.out, "chol\n");
}

// The row values as the sqlite3 tool shows them.
std::string Cli(const std::string& path, const std::string& sql) {
  const auto r = Sqlite3(path, sql);
  return r.out + r.err;
}

TEST(AppendField, PropertiesAreStoredAndEnforcedForEveryProgram) {
  TempDir dir;
  const std::string path = dir.Sub("a.mdb");
  Database db = testing::CreateAnalyserDatabase(path);
  db.Exec("INSERT INTO Kits (Kits_TestsID) VALUES (1)");

  NewField level = WithRule(WithDefault(FieldOf("Kits_Level", field_type::kInteger), Value("5")),
                            ">=0 And <=100");
  level.required = true;
  level.validation_text = "Level must be 0 to 100";
  AppendField(db, "KITS", level);
  NewField code =
      WithRule(WithDefault(FieldOf("Kits_Code", field_type::kText, "4"), Value("\"AB\"")),
               "Like \"A*\" Or In (\"X\",\"Y\")");
  code.allow_zero_length = false;
  AppendField(db, "Kits", code);

  const auto fields = TableFields(db, "kits");
  ASSERT_EQ(fields.size(), 6u);
  EXPECT_EQ(fields[4].name, "Kits_Level");
  EXPECT_EQ(fields[4].declared_type, "SHORT");
  EXPECT_TRUE(fields[4].properties.required);
  EXPECT_EQ(fields[4].properties.default_value.ToText(), "5");
  EXPECT_EQ(fields[4].properties.validation_text, "Level must be 0 to 100");
  EXPECT_EQ(fields[5].declared_type, "TEXT(4)");
  EXPECT_FALSE(fields[5].properties.allow_zero_length);
  EXPECT_EQ(fields[5].properties.validation_rule, "Like \"A*\" Or In (\"X\",\"Y\")");

  // The existing row holds null; a later row gets the defaults.
  db.Close();
  EXPECT_EQ(Cli(path, "SELECT quote(Kits_Level), quote(Kits_Code) FROM Kits;"), "NULL|NULL\n");
  EXPECT_EQ(Cli(path,
                "INSERT INTO Kits (Kits_TestsID) VALUES (2); "
                "SELECT Kits_Level, Kits_Code FROM Kits WHERE Kits_TestsID = 2;"),
            "5|AB\n");

  // The sqlite3 tool is held to Required, the rule and AllowZeroLength.
  EXPECT_NE(Cli(path, "INSERT INTO Kits (Kits_TestsID, Kits_Level) VALUES (3, NULL);")
                .find("You must enter a value in the 'Kits.Kits_Level' field."),
            std::string::npos);
  EXPECT_NE(Cli(path, "INSERT INTO Kits (Kits_TestsID, Kits_Level) VALUES (3, 101);")
                .find("Level must be 0 to 100"),
            std::string::npos);
  EXPECT_NE(Cli(path, "UPDATE Kits SET Kits_Level = -1;").find("Level must be 0 to 100"),
            std::string::npos);
  EXPECT_NE(Cli(path, "INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (3, 'B');")
                .find("validation rule"),
            std::string::npos);
  EXPECT_NE(
      Cli(path, "INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (3, '');").find("zero-length"),
      std::string::npos);
  EXPECT_EQ(Cli(path,
                "INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (3, 'ay');"
                "INSERT INTO Kits (Kits_TestsID, Kits_Code) VALUES (4, 'Y');"
                "SELECT count(*) FROM Kits;"),
            "4\n");
}

TEST(AppendField, RefusesBeforeAnythingChanges) {
  TempDir dir;
  Database db = testing::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  struct Case {
    NewField field;
    long number;
  };
  const std::vector<Case> cases = {
      {FieldOf("F", field_type::kText, "abc"), engine_err::kBadFieldSize},
      {FieldOf("F", field_type::kChar, "256"), engine_err::kBadFieldSize},
      {FieldOf("F", 99), engine_err::kUnknownFieldType},
      {WithRule(FieldOf("F", field_type::kLong), "> Date()"), engine_err::kUntranslatableRule},
      {WithRule(FieldOf("F", field_type::kLong), "0); DROP TABLE Tests; --"),
       engine_err::kUntranslatableRule},
      {WithRule(FieldOf("F", field_type::kText), "Like \"[A\""), engine_err::kUntranslatableRule},
      {WithDefault(FieldOf("F", field_type::kByte), Value("300")), engine_err::kValueDoesNotFit},
      {FieldOf("kits_lotnumber", field_type::kLong), engine_err::kNameInUse},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf([&] { AppendField(db, "Kits", c.field); }).number(), c.number)
        << c.field.size_text << " " << c.field.validation_rule.value_or("");
    EXPECT_EQ(TableFields(db, "Kits").size(), 4u);
  }
  EXPECT_FALSE(db.Query("SELECT 1 FROM Tests LIMIT 0").columns.empty());
}

TEST(AppendField, HostileNamesAndRuleTextsInjectNothing) {
  TempDir dir;
  const std::string path = dir.Sub("a.mdb");
  Database db = testing::CreateAnalyserDatabase(path);
  db.Exec("CREATE TABLE \"Odd\"\"; DROP TABLE Tests; --\" (A LONG)");
  NewField field = WithRule(WithDefault(FieldOf("x\"); DROP TABLE Tests; --", field_type::kText),
                                        Value("\"it's\"\" ok\"")),
                            "<>\"'); DROP TABLE Tests; --\"");
  field.validation_text = "no ' way\"); DROP TABLE Tests; --";
  AppendField(db, "odd\"; drop table tests; --", field);
  EXPECT_EQ(TableFields(db, "Tests").size(), 35u);
  db.InsertRow("Odd\"; DROP TABLE Tests; --", {{"A", Value(std::int32_t{1})}});
  const Error refused = ErrorOf([&] {
    db.InsertRow("Odd\"; DROP TABLE Tests; --", {{field.name, Value("'); DROP TABLE Tests; --")}});
  });
  EXPECT_EQ(refused.description(), "no ' way\"); DROP TABLE Tests; --");
  EXPECT_EQ(db.Query("SELECT \"x\"\"); DROP TABLE Tests; --\" FROM \"Odd\"\"; DROP TABLE "
                     "Tests; --\"")
                .rows.at(0)
                .at(0)
                .ToText(),
            "it's\" ok");
}

TEST(DeleteField, RemovesTheColumnAndRecreatesTheViewsThatStillCompile) {
  TempDir dir;
  const std::string path = dir.Sub("a.mdb");
  Database db = testing::CreateAnalyserDatabase(path);
  db.Exec("INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) VALUES (1, 'L1')");
  NewField note = FieldOf("Kits_Note", field_type::kText, "20");
  note.required = true;
  AppendField(db, "Kits", note);
  CreateSavedQuery(db, "qryNotes", "SELECT Kits_Note FROM Kits");
  CreateSavedQuery(db, "qryLots", "SELECT Kits_LotNumber FROM Kits");
  CreateSavedQuery(db, "qryLotsAgain", "SELECT * FROM qryLots");

  DeleteField(db, "kits", "KITS_NOTE");
  EXPECT_EQ(TableFields(db, "Kits").size(), 4u);
  EXPECT_EQ(SavedQueries(db).size(), 3u);  // the broken one stays saved...
  EXPECT_EQ(ErrorOf([&] { RunSavedQuery(db, "qryNotes"); }).number(), 1);  // ...and fails
  EXPECT_EQ(db.Query("SELECT * FROM qryLotsAgain").rows.at(0).at(0).ToText(), "L1");
  db.InsertRow("Kits", {{"Kits_TestsID", Value(std::int16_t{2})}});  // Required is gone
  EXPECT_TRUE(db.Query("SELECT * FROM SysFieldProperties").empty());

  EXPECT_EQ(ErrorOf([&] { DeleteField(db, "Kits", "Kits_TestsID"); }).number(),
            engine_err::kCannotDropField);
  EXPECT_EQ(ErrorOf([&] { DeleteField(db, "Tests", "Tests_ID"); }).number(),
            engine_err::kCannotDropField);
  EXPECT_EQ(ErrorOf([&] { DeleteField(db, "Kits", "NoSuch"); }).number(),
            engine_err::kUnknownField);
  EXPECT_EQ(TableFields(db, "Kits").size(), 4u);
}

off_t FileSize(const std::string& path) {
  struct stat st = {};
  ::stat(path.c_str(), &st);
  return st.st_size;
}

TEST(CompactDatabase, WritesASmallerCopyWithTheSameContents) {
  TempDir dir;
  const std::string path = dir.Sub("a.mdb");
  {
    Database db = testing::CreateAnalyserDatabase(path);
    db.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) SELECT i, 'LOT' || i FROM n;"
        "DELETE FROM Kits WHERE Kits_ID > 100;");
  }
  const std::string copy = dir.Sub("copy.mdb");
  {
    Database open = Database::Open(path);
    EXPECT_EQ(ErrorOf([&] { CompactDatabase(path, copy); }).number(), engine_err::kDatabaseInUse);
  }
  CompactDatabase(path, copy);
  EXPECT_LT(FileSize(copy), FileSize(path));
  const std::string dump =
      "SELECT * FROM Kits ORDER BY Kits_ID; SELECT sql FROM sqlite_schema ORDER BY name;";
  EXPECT_EQ(Cli(copy, dump), Cli(path, dump));
  EXPECT_EQ(ErrorOf([&] { CompactDatabase(path, copy); }).number(), engine_err::kDestinationExists);
  EXPECT_FALSE(testing_support::Exists(dir.Sub("copy.ldb")));
}

}  // namespace
}  // namespace platform::engine
