// Whole files: compaction in place, copies page by page, the integrity
// check; the in-memory copy, its sizes, and the row-change recorder.
#include "tests/support/files.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "platform/engine/copy_database.h"
#include "platform/engine/database.h"
#include "platform/engine/engine_error.h"
#include "platform/engine/integrity.h"
#include "platform/engine/schema.h"
#include "platform/engine/snapshot.h"
#include "tests/support/databases.h"
#include "tests/support/errors.h"

namespace platform::engine {
namespace {

using namespace testing_support;

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

// Compaction and copies work in place: the file keeps its inode, and its
// contents are the same. A damaged file fails the check with 11, the
// database and SQLite's problems (at most five) as details.
TEST(WholeFiles, CompactCopyInPlaceWithTheSameContentsAndCheckIntegrity) {
  TempDir dir;
  const std::string path = dir.Sub("a.mdb"), copy = dir.Sub("copy.mdb");
  CreateAnalyserDatabase(path, SampleDataSql())
      .Exec(
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
          "INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) SELECT i, 'LOT' || i FROM n;"
          "DELETE FROM Kits WHERE Kits_ID > 100;");
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

  const std::string sound = dir.Sub("b.mdb");
  CreateAnalyserDatabase(sound, SampleDataSql()).Close();
  CheckDatabaseIntegrity(sound);
  for (const auto damage : {Damage::kLoweredCellCount, Damage::kTruncated}) {
    DamageDatabase(sound, damage);
    ASSERT_NE(QuickCheckOutput(sound), "ok\n");
    const Error e = ErrorOf([&] { CheckDatabaseIntegrity(sound); });
    ASSERT_GE(e.details().size(), 2u);
    EXPECT_EQ(std::to_string(e.number()) + " " + e.description() + "|" + e.details()[0].first +
                  "=" + e.details()[0].second + "|" + e.details()[1].first,
              "11 database disk image is malformed|database=" + sound + "|problem");
    EXPECT_LE(e.details().size(), 6u);
    EXPECT_EQ(e.details()[1].second.rfind("***", 0), std::string::npos);
  }
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

// The copy changes nothing on disk and leaves no file beside it. Its
// recorder reports net changes in first-touch order, and keeps column names
// between Takes: a table rebuilt under the same name with other columns must
// be reported under its new names.
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
    // Its compacted size is smaller after deletes and leaves the copy alone.
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
  EXPECT_EQ(std::to_string(ErrorOf([&] { OpenInMemoryCopy(dir.Sub("absent.mdb")); }).number()) +
                " " +
                std::to_string(ErrorOf([&] { OpenInMemoryCopy(dir.Sub("text.mdb")); }).number()),
            "53 26");  // SQLITE_NOTADB

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
}

}  // namespace
}  // namespace platform::engine
