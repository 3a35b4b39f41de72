#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/engine/database.h"
#include "reshaper/mod_procedures.h"
#include "tests/reshaper/reshaper_fixture.h"
#include "tests/support/test_support.h"

namespace reshaper {
namespace {

using platform::engine::Database;
using reshaper_test::ReadScalar;
using testing_support::ChmodFile;
using testing_support::Exists;
using testing_support::MakeFolders;
using testing_support::TempDir;
using testing_support::WriteFile;

class CompactTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("SYSTEM_DRIVE", dir_.path().c_str(), 1);
    MakeFolders(databases_);
    // Rows added and most deleted again leave free pages to compact away.
    reshaper_test::CreateDatabase(target_, R"sql(
      CREATE TABLE Big (Big_ID INTEGER PRIMARY KEY, Big_Text MEMO);
      WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)
        INSERT INTO Big (Big_Text) SELECT printf('%.300c', 'x') FROM n;
      DELETE FROM Big WHERE Big_ID > 100;
    )sql");
  }

  struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
  }

  TempDir dir_;
  std::string databases_ = dir_.Sub("Corvista1000/Databases");
  std::string target_ = databases_ + "/Corvista1k.mdb";
  std::string scratch_ = databases_ + "/Temp.mdb";
  StepFailure failure_;
};

TEST_F(CompactTargetTest, ReplacesTheTargetByItsCompactedCopyAndRemovesTheScratchFile) {
  ChmodFile(target_, 0640);
  const struct stat before = Stat(target_);
  ASSERT_TRUE(CompactTarget(&failure_)) << reshaper_test::DetailValue(failure_.details, "engine");
  const struct stat after = Stat(target_);
  EXPECT_FALSE(Exists(scratch_));
  EXPECT_LT(after.st_size, before.st_size);
  EXPECT_NE(after.st_ino, before.st_ino);  // put in place by rename, never written over
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(ReadScalar(target_, "SELECT count(*) FROM Big").ToLong(), 100);
}

TEST_F(CompactTargetTest, ReadOnlyScratchFileLeftBehindIsDeletedFirst) {
  WriteFile(scratch_, "left by an earlier run");
  ChmodFile(scratch_, 0444);
  ASSERT_TRUE(CompactTarget(&failure_));
  EXPECT_FALSE(Exists(scratch_));
  EXPECT_EQ(ReadScalar(target_, "SELECT count(*) FROM Big").ToLong(), 100);
}

TEST_F(CompactTargetTest, HotJournalIsRolledBackBeforeTheTargetIsCopied) {
  // A writer that dies mid-transaction leaves changed pages in the file and
  // their old content in the journal.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Database db = Database::Open(target_);
    db.Exec("PRAGMA cache_size = 2");
    auto transaction = db.Begin();
    db.Exec("UPDATE Big SET Big_Text = 'changed'");
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(Exists(target_ + "-journal")) << "the fault did not fire";

  ASSERT_TRUE(CompactTarget(&failure_));
  EXPECT_FALSE(Exists(target_ + "-journal"));
  EXPECT_EQ(ReadScalar(target_, "SELECT count(*) FROM Big WHERE Big_Text = 'changed'").ToLong(), 0);
  EXPECT_EQ(ReadScalar(target_, "PRAGMA integrity_check").ToText(), "ok");
}

}  // namespace
}  // namespace reshaper
