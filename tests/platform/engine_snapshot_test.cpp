// The in-memory copy, its sizes, and the row-change recorder.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/engine/snapshot.h"
#include "tests/platform/engine_test_support.h"

namespace platform::engine {
namespace {

using testing::CreateAnalyserDatabase;
using testing::ErrorOf;
using testing_support::TempDir;

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
    Database db = CreateAnalyserDatabase(path_);
    db.Exec(
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
    EXPECT_EQ(copy.Query("SELECT count(*) FROM Tests").rows[0][0].ToLong(), 2);
    EXPECT_EQ(FolderEntries(dir_.path()), entries);  // no lock file while open
    copy.Exec("DELETE FROM Tests");
    copy.InsertRow("Tests", {{"Tests_ID", Value(9)}});
  }
  EXPECT_EQ(testing_support::ReadFile(path_), bytes);
  EXPECT_EQ(FolderEntries(dir_.path()), entries);
}

TEST_F(SnapshotTest, MissingFileAndNonDatabaseFail) {
  EXPECT_EQ(ErrorOf([&] { OpenInMemoryCopy(dir_.Sub("absent.mdb")); }).number(),
            err::kFileNotFound);
  testing_support::WriteFile(dir_.Sub("text.mdb"), "not a database, but long enough to be read");
  EXPECT_EQ(ErrorOf([&] { OpenInMemoryCopy(dir_.Sub("text.mdb")); }).number(), 26);  // NOTADB
}

TEST_F(SnapshotTest, CompactedSizeIsSmallerAfterDeletesAndLeavesTheCopyAlone) {
  Database copy = OpenInMemoryCopy(path_);
  copy.Exec(
      "CREATE TABLE Bulk (B TEXT); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
      "SELECT i + 1 FROM n WHERE i < 2000) INSERT INTO Bulk SELECT hex(randomblob(100)) "
      "FROM n; DELETE FROM Bulk;");
  const std::int64_t size = DatabaseSize(copy);
  EXPECT_LT(CompactedSize(copy), size);
  EXPECT_EQ(DatabaseSize(copy), size);
}

TEST_F(SnapshotTest, RecorderReportsNetChangesInFirstTouchOrder) {
  Database copy = OpenInMemoryCopy(path_);
  ChangeRecorder recorder(copy);
  const RowId glu = *copy.FirstRow("Tests", "Tests_ID = 1");
  copy.UpdateRow("Tests", glu, {{"Tests_Name", Value("GLUC")}});
  copy.UpdateRow("Tests", glu, {{"Tests_FullName", Value("Glucose")}});
  const RowId added = copy.InsertRow("Tests", {{"Tests_ID", Value(3)}, {"Tests_Name", Value("X")}});
  copy.Exec("DELETE FROM Tests WHERE Tests_ID = 2");
  const RowId gone = copy.InsertRow("Tests", {{"Tests_ID", Value(4)}});
  copy.DeleteRow("Tests", gone);
  copy.Execute("UPDATE Notes SET Text = 'new' WHERE Text = 'old'");
  copy.Execute("UPDATE Notes SET Text = Text");  // changes nothing

  const std::vector<RowChange> changes = recorder.Take();
  ASSERT_EQ(changes.size(), 4u);

  EXPECT_EQ(changes[0].kind, RowChange::Kind::kUpdated);
  EXPECT_EQ(changes[0].rowid, glu);
  EXPECT_EQ(changes[0].columns, (std::vector<std::string>{"Tests_Name", "Tests_FullName"}));
  EXPECT_EQ(changes[0].old_values[0].ToText(), "GLU");
  EXPECT_TRUE(changes[0].old_values[1].IsNull());
  EXPECT_EQ(changes[0].new_values[1].ToText(), "Glucose");

  EXPECT_EQ(changes[1].kind, RowChange::Kind::kInserted);
  EXPECT_EQ(changes[1].rowid, added);
  EXPECT_EQ(changes[1].columns.size(), changes[1].new_values.size());
  EXPECT_EQ(changes[1].new_values[0].ToLong(), 3);

  EXPECT_EQ(changes[2].kind, RowChange::Kind::kDeleted);
  EXPECT_EQ(changes[2].old_values[1].ToText(), "CHOL");  // Tests_Name is the second column
  EXPECT_TRUE(changes[2].new_values.empty());

  EXPECT_EQ(changes[3].table, "Notes");
  EXPECT_EQ(changes[3].columns, std::vector<std::string>{"Text"});
  EXPECT_EQ(changes[3].new_values[0].ToText(), "new");

  EXPECT_TRUE(recorder.Take().empty());  // Take starts afresh
}

TEST_F(SnapshotTest, RowReplacedUnderItsRowidIsOneUpdate) {
  Database copy = OpenInMemoryCopy(path_);
  copy.Exec("INSERT INTO TestVolumes (TV_ID, TV_TestsID, TV_Part) VALUES (7, 1, 0)");
  ChangeRecorder recorder(copy);
  copy.Exec("INSERT OR REPLACE INTO TestVolumes (TV_ID, TV_TestsID, TV_Part) VALUES (7, 1, 2)");
  const std::vector<RowChange> changes = recorder.Take();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].kind, RowChange::Kind::kUpdated);
  EXPECT_EQ(changes[0].rowid, 7);
  EXPECT_EQ(changes[0].columns, std::vector<std::string>{"TV_Part"});
  EXPECT_EQ(changes[0].new_values[0].ToLong(), 2);
}

// The recorder keeps column names between Takes; a table rebuilt under the
// same name with other columns must be reported under its new names.
TEST_F(SnapshotTest, ColumnNamesFollowATableChangedBetweenTakes) {
  Database copy = OpenInMemoryCopy(path_);
  ChangeRecorder recorder(copy);
  copy.Execute("UPDATE Notes SET Text = 'first' WHERE Text = 'kept'");
  ASSERT_EQ(recorder.Take().at(0).columns, std::vector<std::string>{"Text"});
  copy.Exec("DROP TABLE Notes; CREATE TABLE Notes (Body TEXT(20)); INSERT INTO Notes VALUES ('x')");
  const std::vector<RowChange> changes = recorder.Take();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].columns, std::vector<std::string>{"Body"});
}

}  // namespace
}  // namespace platform::engine
