// Reshaper as the real program under faults of the machine: a read-only
// database folder or target, a hot journal that cannot be rolled back, a
// disk that fills up during the shell working copy, the default data or the
// compaction, a read-only install log, shells and a target that are no
// databases. Every case first shows that its fault fired, then the box and
// log line the operator is owed, and that nothing is lost: a fault in the
// driver's own actions leaves the target byte for byte as it was, a failed
// step leaves what it had done, and no run leaves a working copy, a scratch
// file, a temporary file or a completion marker behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "platform/engine/database.h"
#include "tests/reshaper/program_fixture.h"
#include "tests/reshaper/reshaper_fixture.h"
#include "tests/support/databases.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace reshaper {
namespace {

namespace fs = std::filesystem;
using platform::engine::Database;
using reshaper_test::kStart;
using reshaper_test::ReadScalar;
using ::testing::HasSubstr;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::ScopedMount;
using testing_support::WriteFile;

constexpr const char* kUnexpected =
    "An Unexpected Error Occured While Updating the Database. Reshaper Aborted";

class ReshaperFaultTest : public reshaper_test::ReshaperProgramTest {
 protected:
  // About 600 kB of rows in the target, so that a disk can be sized to hold
  // the target but not its compacted copy, and a transaction can spill
  // half-written pages into the file.
  void AddFiller() {
    Database db = Database::Open(target_);
    db.Exec(
        "CREATE TABLE Filler (Note MEMO);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "INSERT INTO Filler SELECT hex(randomblob(100)) FROM n");
  }

  // Leaves the target as a program killed in the middle of a transaction
  // does: a hot journal and a half-written file (and a stale lock file).
  void LeaveHotJournal() {
    AddFiller();
    const std::string committed = ReadFile(target_);
    std::optional<Database> killed;  // stays open in the child
    testing_support::RunInKilledChild([&] {
      killed.emplace(Database::Open(target_));
      killed->Exec("PRAGMA cache_size = 1; BEGIN; UPDATE Filler SET Note = 'HALF-WRITTEN';");
    });
    ASSERT_TRUE(Exists(target_ + "-journal")) << "no hot journal was left";
    ASSERT_FALSE(ReadFile(target_) == committed) << "the target was not half written";
  }

  // A tmpfs under the database folder, holding its files, with `free_bytes`
  // left free.
  ScopedMount SmallDisk(std::size_t free_bytes) {
    ScopedMount mount = ScopedMount::Tmpfs(databases_, std::size_t{1} << 26);
    if (mount.mounted()) {
      EXPECT_TRUE(mount.LeaveFree(free_bytes)) << mount.failure();
    }
    return mount;
  }

  std::size_t ShellSize() { return ReadFile(program_ + "/InstallShell.mdb").size(); }

  // What a run that cleans up must not leave in the database folder: the
  // working copies, the compaction's scratch file, temporary copies, and no
  // completion marker anywhere.
  void ExpectCleanedUp() {
    EXPECT_FALSE(Exists(install_copy_));
    EXPECT_FALSE(Exists(eru_copy_));
    EXPECT_FALSE(Exists(databases_ + "/Temp.mdb"));
    EXPECT_THAT(testing_support::TemporaryFilesIn(databases_), ::testing::IsEmpty());
    EXPECT_FALSE(Exists(marker_));
  }

  // The box "Reshaper: <message>" stands in standard error, and every other
  // line there is a `detail:` line, one at least after the box.
  static void ExpectBoxAndDetails(const std::string& err, const std::string& message) {
    const std::string box = std::string("Reshaper: ") + message + "\n";
    const std::size_t at = err.find(box);
    ASSERT_NE(at, std::string::npos) << err;
    std::istringstream rest(err.substr(0, at) + err.substr(at + box.size()));
    int details = 0;
    for (std::string line; std::getline(rest, line); ++details) {
      EXPECT_EQ(line.rfind("detail: ", 0), 0u) << line;
    }
    EXPECT_GT(details, 0);
  }
};

// --- Faults in the driver's own actions: the unexpected error ---------------

struct DriverFaultCase {
  const char* name;  // also the fault that Arrange lays out
  const char* command_line;
  const char* proof;  // a detail line that only the fault gives
  // The detail that names the file at fault: what, and the path under the
  // test's folder.
  const char* what;
  const char* file;
};

void PrintTo(const DriverFaultCase& c, std::ostream* os) {
  *os << c.name;
}

class DriverFaultTest : public ReshaperFaultTest,
                        public ::testing::WithParamInterface<DriverFaultCase> {
 protected:
  // Lays out the files of the fault and mounts what it needs.
  std::optional<ScopedMount> Arrange(const std::string& fault) {
    if (fault == "ReadOnlyDatabaseFolder") return ScopedMount::ReadOnly(databases_);
    if (fault == "HotJournalOfReadOnlyTarget") {
      LeaveHotJournal();
      return ScopedMount::ReadOnly(target_);
    }
    if (fault == "FullDiskAtShellCopy") return SmallDisk(ShellSize() / 2);
    if (fault == "InstallShellOfRandomBytes") {
      WriteFile(program_ + "/InstallShell.mdb", std::string(8192, '\x5a') + "\x01\xff");
    } else if (fault == "EruShellOfText") {
      WriteFile(program_ + "/ERUShell.mdb", "StructureInfo;Tests;Tests_Name\r\n");
    } else if (fault == "TargetOfText") {
      WriteFile(target_, "Tests;GLU;CHOL\r\n");
    } else if (fault == "TruncatedTarget") {
      testing_support::DamageDatabase(target_, testing_support::Damage::kTruncated);
      EXPECT_NE(testing_support::QuickCheckOutput(target_), "ok\n") << "not damaged";
    }
    return std::nullopt;
  }
};

TEST_P(DriverFaultTest, IsAnUnexpectedErrorAndLeavesTheTargetAsItWas) {
  const DriverFaultCase& c = GetParam();
  WriteFile(marker_, "");
  std::string before;
  RunResult run;
  {
    std::optional<ScopedMount> mount = Arrange(c.name);
    ASSERT_FALSE(HasFatalFailure());
    if (mount) {
      SKIP_UNLESS_MOUNTED(*mount);
    }
    before = ReadFile(target_);
    run = Reshaper({c.command_line});
  }
  ASSERT_THAT(run.err, HasSubstr(std::string("\n") + c.proof + "\n")) << "the fault did not fire";
  EXPECT_EQ(run.exit_status, 1);
  ExpectBoxAndDetails(run.err, kUnexpected);
  EXPECT_THAT(run.err,
              HasSubstr(std::string("\ndetail: ") + c.what + ": " + dir_.Sub(c.file) + "\n"));
  ExpectLog({kStart, kUnexpected});
  EXPECT_TRUE(ReadFile(target_) == before) << "the target changed";
  // A journal is never deleted; the next open rolls it back.
  EXPECT_EQ(Exists(target_ + "-journal"), std::string(c.name) == "HotJournalOfReadOnlyTarget");
  ExpectCleanedUp();
}

// A read-only database folder refuses the target's lock file when the target
// is opened for its check, before the working copy, so a hot journal beside
// the target is met only where the target file alone is read-only
// (SQLITE_READONLY_ROLLBACK, 776).
const DriverFaultCase kDriverFaults[] = {
    {"ReadOnlyDatabaseFolder", "INSTALL,QUERY",
     "detail: system: open lock file: Read-only file system", "file",
     "drive/Corvista1000/Databases/Corvista1k.ldb"},
    {"HotJournalOfReadOnlyTarget", "INSTALL,QUERY",
     "detail: error: 776 attempt to write a readonly database", "database",
     "drive/Corvista1000/Databases/Corvista1k.mdb"},
    {"FullDiskAtShellCopy", "INSTALL,STRUCTURE", "detail: system: write: No space left on device",
     "file", "drive/Corvista1000/Databases/InstallShell.mdb"},
    {"InstallShellOfRandomBytes", "INSTALL,QUERY", "detail: error: 26 file is not a database",
     "shell source", "program/InstallShell.mdb"},
    {"EruShellOfText", "ERU,STRUCTURE", "detail: error: 26 file is not a database", "shell source",
     "program/ERUShell.mdb"},
    {"TargetOfText", "INSTALL,QUERY", "detail: error: 26 file is not a database", "database",
     "drive/Corvista1000/Databases/Corvista1k.mdb"},
    // Checked before the working copy is laid beside it: a compaction would
    // copy the damage (a lowered cell count is a row of the run table).
    {"TruncatedTarget", "INSTALL,STRUCTURE", "detail: error: 11 database disk image is malformed",
     "database", "drive/Corvista1000/Databases/Corvista1k.mdb"},
};
INSTANTIATE_TEST_SUITE_P(Faults, DriverFaultTest, ::testing::ValuesIn(kDriverFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// --- A step that fails on a full disk ----------------------------------------

struct FullDiskStepCase {
  const char* name;
  const char* command_line;
  const char* message;
  const char* step;     // the first detail line's value
  const char* version;  // what the target holds after the run
  long tests;           // rows of Tests after the run
};

void PrintTo(const FullDiskStepCase& c, std::ostream* os) {
  *os << c.name;
}

class FullDiskStepTest : public ReshaperFaultTest,
                         public ::testing::WithParamInterface<FullDiskStepCase> {};

// The disk holds the target and the working copy with half the target's
// size to spare: a last default-data statement that doubles the target's
// rows does not fit, and neither does the compacted copy. The failing
// statement is undone by the engine, the steps before it stay done, the
// target keeps its place uncompacted and whole, and the scratch file that
// the engine began is gone.
TEST_P(FullDiskStepTest, FailsTheStepAndKeepsWhatTheStepsDid) {
  const FullDiskStepCase& c = GetParam();
  AddFiller();
  MakeShell("InstallShell.mdb",
            std::string(reshaper_test::kInstallShell) +
                "INSERT INTO DefaultData VALUES ('INSERT INTO Filler SELECT Note FROM Filler');",
            {});
  RunResult run;
  {
    const ScopedMount mount = SmallDisk(ShellSize() + ReadFile(target_).size() / 2);
    SKIP_UNLESS_MOUNTED(mount);
    const ino_t inode = TargetInode();
    run = Reshaper({c.command_line});
    EXPECT_EQ(TargetInode(), inode);  // not replaced
  }
  ASSERT_THAT(run.err, HasSubstr("\ndetail: engine: 13 database or disk is full\n"))
      << "the fault did not fire";
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(
      run.err.rfind(std::string("Reshaper: ") + c.message + "\ndetail: step: " + c.step + "\n", 0),
      0u)
      << run.err;
  ExpectBoxAndDetails(run.err, c.message);
  ExpectLog({kStart, c.message});
  EXPECT_EQ(Version(), c.version);
  EXPECT_EQ(TestCount(), c.tests);
  EXPECT_EQ(ReadScalar(target_, "PRAGMA integrity_check").ToText(), "ok");
  EXPECT_EQ(ReadScalar(target_, "SELECT count(*) FROM Filler").ToLong(), 3000);
  ExpectCleanedUp();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FullDiskStepTest,
    ::testing::Values(FullDiskStepCase{"DefaultData", "INSTALL,STRUCTURE,VERSION",
                                       "Unable to Update the Default Data. Reshaper Aborted",
                                       "default data", "1.0.0", 3},
                      FullDiskStepCase{"Compaction", "INSTALL,VERSION",
                                       "Unable to Compact the Database. Reshaper Aborted",
                                       "compaction", "2.0.0", 2}),
    [](const ::testing::TestParamInfo<FullDiskStepCase>& info) {
      return std::string(info.param.name);
    });

// --- A read-only install log -------------------------------------------------

// The log is only appended to and never made writable: a read-only log
// stays as it was, and the runs go on as if it had been written.
TEST_F(ReshaperFaultTest, ReadOnlyLogStaysAndRunsGoOn) {
  const std::string old_line = "Reshaper program start 2020-01-01 00:00:00\r\n";
  WriteFile(log_, old_line);
  testing_support::ChmodFile(log_, 0444);
  auto expect_log_untouched = [&] {
    EXPECT_EQ(ReadFile(log_), old_line);  // no start line was written: the fault fired
    EXPECT_EQ(fs::status(log_).permissions() & fs::perms::owner_write, fs::perms::none);
  };
  RunResult run = Reshaper({"INSTALL,VERSION"});
  expect_log_untouched();
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Version(), "2.0.0");
  EXPECT_TRUE(Exists(marker_));
  EXPECT_FALSE(Exists(install_copy_));

  // A failing run still shows its box.
  ::unlink(target_.c_str());
  run = Reshaper({"INSTALL,VERSION"});
  expect_log_untouched();
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "Reshaper: Corvista1k.mdb is Missing. Reshaper Aborted\ndetail: file: " +
                         target_ + "\n");
  EXPECT_FALSE(Exists(marker_));
}

}  // namespace
}  // namespace reshaper
