// The lock file's life: created by the first connection, kept while any is
// open, removed by the last; a stale one is taken over.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/engine/database.h"
#include "tests/platform/engine_test_support.h"

namespace platform::engine {
namespace {

using testing_support::Exists;
using testing_support::TempDir;

TEST(LockFile, LivesWhileAnyConnectionOfTheProcessIsOpen) {
  TempDir dir;
  const std::string path = dir.Sub("Analyser.mdb");
  const std::string lock = dir.Sub("Analyser.ldb");
  Database::Create(path).Close();
  EXPECT_FALSE(Exists(lock));
  EXPECT_EQ(ProbeLockFile(path), LockState::kNone);

  Database first = Database::Open(path);
  EXPECT_TRUE(Exists(lock));
  {
    // Another spelling of the same path shares the process's one lock.
    Database second = Database::Open(dir.path() + "/./Analyser.mdb");
    EXPECT_EQ(ProbeLockFile(path), LockState::kHeld);
    RemoveStaleLockFile(path);  // held: stays
    EXPECT_TRUE(Exists(lock));
  }
  EXPECT_TRUE(Exists(lock));  // the first connection still holds it
  first.Close();
  first.Close();  // idempotent
  EXPECT_FALSE(Exists(lock));
}

TEST(LockFile, HeldByAnotherProcessIsSeenAndKept) {
  TempDir dir;
  const std::string path = dir.Sub("db.mdb");
  Database::Create(path).Close();
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    Database db = Database::Open(path);
    char c = 'r';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    db.Close();
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(ProbeLockFile(path), LockState::kHeld);
  { Database mine = Database::Open(path); }
  // Our last close could not take the exclusive lock: the child holds it.
  EXPECT_TRUE(Exists(dir.Sub("db.ldb")));
  ASSERT_EQ(::write(done[1], &c, 1), 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_FALSE(Exists(dir.Sub("db.ldb")));
}

TEST(LockFile, StaleOneIsDetectedTakenOverAndRemoved) {
  TempDir dir;
  const std::string path = dir.Sub("db.mdb");
  Database::Create(path).Close();
  testing_support::WriteFile(dir.Sub("db.ldb"), "");  // left by a process that died
  EXPECT_EQ(ProbeLockFile(path), LockState::kStale);
  {
    Database db = Database::Open(path);
    EXPECT_EQ(ProbeLockFile(path), LockState::kHeld);
  }
  EXPECT_FALSE(Exists(dir.Sub("db.ldb")));

  testing_support::WriteFile(dir.Sub("db.ldb"), "");
  RemoveStaleLockFile(path);
  EXPECT_FALSE(Exists(dir.Sub("db.ldb")));
}

TEST(LockFile, MissingDatabaseFailsWithoutLeavingALockFile) {
  TempDir dir;
  EXPECT_EQ(testing::ErrorOf([&] { Database::Open(dir.Sub("none.mdb")); }).number(),
            err::kFileNotFound);
  testing_support::WriteFile(dir.Sub("junk.mdb"), std::string(4096, 'x'));
  EXPECT_EQ(testing::ErrorOf([&] { Database::Open(dir.Sub("junk.mdb")); }).number(), 26);
  EXPECT_FALSE(Exists(dir.Sub("none.ldb")));
  EXPECT_FALSE(Exists(dir.Sub("junk.ldb")));
}

}  // namespace
}  // namespace platform::engine
