// Schema objects: saved queries, appended and deleted fields with their
// properties enforced inside the file, compaction; and the in-memory copy,
// its sizes, and the row-change recorder.
#include "platform/engine/schema.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <vector>

#include "platform/engine/database.h"
#include "platform/engine/engine_error.h"
#include "platform/engine/snapshot.h"
#include "tests/platform/engine/test_support.h"

namespace platform::engine {
namespace {

using testing::Cli;
using testing::CreateAnalyserDatabase;
using testing::Dump;
using testing::ErrorOf;
using testing_support::TempDir;

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
      {[&] { CreateSavedQuery(db, "qryBad", "SELECT 1; DROP TABLE Tests"); }, SQLITE_MISUSE},
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

TEST(AppendField, RefusesBeforeAnythingChanges) {
  TempDir dir;
  Database db = CreateAnalyserDatabase(dir.Sub("a.mdb"));
  const struct {
    NewField field;
    long number;
  } cases[] = {
      {{.name = "F", .type_code = field_type::kText, .size_text = "abc"},
       engine_err::kBadFieldSize},
      {{.name = "F", .type_code = field_type::kChar, .size_text = "256"},
       engine_err::kBadFieldSize},
      {{.name = "F", .type_code = 99}, engine_err::kUnknownFieldType},
      {{.name = "F", .type_code = field_type::kLong, .validation_rule = "> Date()"},
       engine_err::kUntranslatableRule},
      {{.name = "F", .type_code = field_type::kText, .validation_rule = "Like \"[A\""},
       engine_err::kUntranslatableRule},
      {{.name = "F", .type_code = field_type::kByte, .default_value = "300"},
       engine_err::kValueDoesNotFit},
      {{.name = "kits_lotnumber", .type_code = field_type::kLong}, engine_err::kNameInUse},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorOf([&] { AppendField(db, "Kits", c.field); }).number(), c.number)
        << c.field.size_text << " " << c.field.validation_rule.value_or("");
    EXPECT_EQ(TableFields(db, "Kits").size(), 4u);
  }
  EXPECT_FALSE(db.Query("SELECT 1 FROM Tests LIMIT 0").columns.empty());
}

TEST(CompactDatabase, CompactsTheFileInPlaceWithTheSameContents) {
  TempDir dir;
  const std::string path = dir.Sub("a.mdb");
  CreateAnalyserDatabase(path).Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
      "INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) SELECT i, 'LOT' || i FROM n;"
      "DELETE FROM Kits WHERE Kits_ID > 100;");
  const std::string dump =
      "SELECT * FROM Kits ORDER BY Kits_ID; SELECT sql FROM sqlite_schema ORDER BY name;";
  const std::string before = Cli(path, dump);
  struct stat old_stat = {};
  ::stat(path.c_str(), &old_stat);
  {
    Database open = Database::Open(path);
    EXPECT_EQ(ErrorOf([&] { CompactDatabase(path); }).number(), engine_err::kDatabaseInUse);
  }
  CompactDatabase(path);
  struct stat new_stat = {};
  ::stat(path.c_str(), &new_stat);
  EXPECT_LT(new_stat.st_size, old_stat.st_size);
  EXPECT_EQ(new_stat.st_ino, old_stat.st_ino);
  EXPECT_EQ(Cli(path, dump), before);
  EXPECT_FALSE(testing_support::Exists(dir.Sub("a.ldb")));
  EXPECT_FALSE(testing_support::Exists(path + "-journal"));
}

std::set<std::string> FolderEntries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateAnalyserDatabase(path_).Exec(
        "INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'GLU'), (2, 'CHOL');"
        "CREATE TABLE Notes (Text TEXT(20));"  // no primary key
        "INSERT INTO Notes VALUES ('kept'), ('old');");
  }
  TempDir dir_;
  std::string path_ = dir_.Sub("Corvista1k.mdb");
};

TEST_F(SnapshotTest, CopyChangesNothingOnDiskAndLeavesNoFileBeside) {
  const std::string bytes = testing_support::ReadFile(path_);
  const std::set<std::string> entries = FolderEntries(dir_.path());
  {
    Database copy = OpenInMemoryCopy(path_);
    EXPECT_EQ(copy.path(), path_);
    EXPECT_EQ(Dump(copy, "SELECT count(*) FROM Tests"), "2\n");
    EXPECT_EQ(FolderEntries(dir_.path()), entries);  // no lock file while open
    copy.Exec("DELETE FROM Tests");
    copy.InsertRow("Tests", {{"Tests_ID", Value(9)}});

    // Its compacted size is smaller after deletes and leaves the copy alone.
    copy.Exec(
        "CREATE TABLE Bulk (B TEXT); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
        "SELECT i + 1 FROM n WHERE i < 2000) INSERT INTO Bulk SELECT hex(randomblob(100)) "
        "FROM n; DELETE FROM Bulk;");
    const std::int64_t size = DatabaseSize(copy);
    EXPECT_LT(CompactedSize(copy), size);
    EXPECT_EQ(DatabaseSize(copy), size);
  }
  EXPECT_EQ(testing_support::ReadFile(path_), bytes);
  EXPECT_EQ(FolderEntries(dir_.path()), entries);

  EXPECT_EQ(ErrorOf([&] { OpenInMemoryCopy(dir_.Sub("absent.mdb")); }).number(),
            err::kFileNotFound);
  testing_support::WriteFile(dir_.Sub("text.mdb"), "not a database, but long enough to be read");
  EXPECT_EQ(ErrorOf([&] { OpenInMemoryCopy(dir_.Sub("text.mdb")); }).number(), SQLITE_NOTADB);
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

TEST_F(SnapshotTest, RecorderReportsNetChangesInFirstTouchOrder) {
  Database copy = OpenInMemoryCopy(path_);
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
                "I Small 3 ID=>3 B=>\"X\"\n"
                "U Notes 2 Text=\"old\">\"new\"\n");
  EXPECT_EQ(changes[2].kind, RowChange::Kind::kDeleted);
  EXPECT_EQ(changes[2].rowid, chol);
  EXPECT_EQ(changes[2].old_values.at(1).ToText(), "CHOL");  // Tests_Name is the second column
  EXPECT_TRUE(changes[2].new_values.empty());
  EXPECT_TRUE(recorder.Take().empty());  // Take starts afresh

  // A row replaced under its rowid is one update.
  copy.Exec("INSERT OR REPLACE INTO Small VALUES (3, 'Z')");
  EXPECT_EQ(Describe(recorder.Take()), "U Small 3 B=\"X\">\"Z\"\n");
}

// The recorder keeps column names between Takes; a table rebuilt under the
// same name with other columns must be reported under its new names.
TEST_F(SnapshotTest, ColumnNamesFollowATableChangedBetweenTakes) {
  Database copy = OpenInMemoryCopy(path_);
  ChangeRecorder recorder(copy);
  copy.Execute("UPDATE Notes SET Text = 'first' WHERE Text = 'kept'");
  ASSERT_EQ(Describe(recorder.Take()), "U Notes 1 Text=\"kept\">\"first\"\n");
  copy.Exec("DROP TABLE Notes; CREATE TABLE Notes (Body TEXT(20)); INSERT INTO Notes VALUES ('x')");
  EXPECT_EQ(Describe(recorder.Take()), "I Notes 1 Body=>\"x\"\n");
}

}  // namespace
}  // namespace platform::engine
