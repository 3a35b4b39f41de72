#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/engine/database.h"
#include "reshaper/mod_procedures.h"
#include "tests/reshaper/reshaper_fixture.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

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

// The target is compacted where it lies: reached through a link, the link
// stays and the file it names keeps its inode and mode.
TEST_F(CompactTargetTest, CompactsTheFileThatTheTargetNamesInPlace) {
  const std::string real = dir_.Sub("elsewhere/Corvista1k.mdb", true);
  std::filesystem::rename(target_, real);
  std::filesystem::create_symlink(real, target_);
  ChmodFile(real, 0640);
  const struct stat before = Stat(real);
  ASSERT_TRUE(CompactTarget(&failure_)) << reshaper_test::DetailValue(failure_.details, "engine");
  const struct stat after = Stat(real);
  EXPECT_FALSE(Exists(scratch_));
  EXPECT_TRUE(std::filesystem::is_symlink(target_));
  EXPECT_LT(after.st_size, before.st_size);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(ReadScalar(target_, "SELECT count(*) FROM Big").ToLong(), 100);
}

// A sqlite3 client reads the target in a transaction that it keeps open past
// the busy timeout: the step fails and the target stays as it was.
TEST_F(CompactTargetTest, AReaderHoldingTheTargetFailsTheStep) {
  const std::string before = testing_support::ReadFile(target_);
  const std::string ready = dir_.Sub("ready");
  FILE* reader = ::popen(("/usr/bin/sqlite3 -batch '" + target_ + "' > /dev/null").c_str(), "w");
  ASSERT_NE(reader, nullptr);
  std::fputs(("BEGIN;\n.output " + ready + "\nSELECT count(*) FROM Big;\n.output stdout\n").c_str(),
             reader);
  std::fflush(reader);
  while (!Exists(ready) || testing_support::ReadFile(ready).empty()) ::usleep(1000);
  const bool compacted = CompactTarget(&failure_);
  std::fputs("COMMIT;\n", reader);
  ::pclose(reader);
  EXPECT_FALSE(compacted);
  EXPECT_EQ(reshaper_test::DetailValue(failure_.details, "engine"), "5 database is locked");
  EXPECT_TRUE(testing_support::ReadFile(target_) == before) << "the target changed";
  EXPECT_FALSE(Exists(target_ + "-journal"));
  EXPECT_FALSE(Exists(scratch_));
}

TEST_F(CompactTargetTest, ReadOnlyScratchFileLeftBehindIsDeletedFirst) {
  WriteFile(scratch_, "left by an earlier run");
  ChmodFile(scratch_, 0444);
  ASSERT_TRUE(CompactTarget(&failure_));
  EXPECT_FALSE(Exists(scratch_));
  EXPECT_EQ(ReadScalar(target_, "SELECT count(*) FROM Big").ToLong(), 100);
}

TEST_F(CompactTargetTest, HotJournalIsRolledBackBeforeTheTargetIsCompacted) {
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
