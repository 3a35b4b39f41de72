// CatalogSync run as the real program: copied into a temporary program
// folder, with a temporary system drive holding the analyser database.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/engine/database.h"
#include "tests/catalog_sync/program_fixture.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace catalog_sync {
namespace {

using testing::CatalogBuilder;
using testing::ProgramTest;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunResult;

// The keyword, trimmed and in any case, selects the run; anything else is
// refused before any file is touched, but a stale marker goes with any
// failing run. Each case starts from the same database.
TEST_F(ProgramTest, TheKeywordSelectsTheRunAndAnythingElseIsRefused) {
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  WritePackage(b);
  const std::map<int, std::string> errors = {
      {0, ""},
      {1, "Catalog Sync: The following file was not found: " + workbook() + "\n"},  // a QVR run
      {2,
       "Catalog Sync: An incorrect command parameter was supplied. Program Aborted.\n"
       "detail: usage: CatalogSync QVR | INSTALL\n"}};
  // clang-format off
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{}, 2}, {{""}, 2}, {{"   "}, 2}, {{"UPDATE"}, 2}, {{"INSTALLS"}, 2}, {{"QVR INSTALL"}, 2},
      {{"INSTALL", "QVR"}, 2}, {{"INSTALL", "INSTALL"}, 2}, {{"\tINSTALL"}, 2}, {{"--help"}, 2}, {{"--version"}, 2},
      {{"INSTALL"}, 0}, {{"install"}, 0}, {{"  InStAlL "}, 0}, {{"", "Install", ""}, 0},
      {{"QVR"}, 1}, {{"qvr"}, 1}, {{" Qvr  "}, 1}};
  // clang-format on
  for (const auto& [args, status] : cases) {
    std::string trace = "args:";
    for (const std::string& a : args) trace += " [" + a + "]";
    SCOPED_TRACE(trace);
    testing_support::WriteFile(marker(), "");
    const RunResult r = RunProgram(args);
    EXPECT_EQ(r.exit_status, status);
    EXPECT_EQ(r.err, errors.at(status));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Exists(marker()), status == 0);
    EXPECT_FALSE(Exists(backup()));
    if (status == 0) {
      EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 40"), 1);
      testing_support::WriteFile(database(), before_);
    } else {
      ExpectDatabaseUntouched();
    }
  }
}

const std::string kUnreadablePackage =
    "Catalog Sync: The assay properties could not be read from the CatalogSync.dat file.\n";

TEST_F(ProgramTest, MissingOrUnreadableFilesAreNamedAndNothingIsCopied) {
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  b.Add(41, "NEWER", "ADD");
  WritePackage(b);
  const std::string package_before = ReadFile(package());
  const struct {
    const char* what;
    std::function<void()> arrange;
    std::string err;  // the start of standard error
    const char* run = "INSTALL";
  } cases[] = {
      {"missing package", [&] { ::unlink(package().c_str()); },
       "Catalog Sync: The following file was not found: " + package() + "\n"},
      {"unreadable package",
       [&] {
         const std::string whole = ReadFile(package());
         testing_support::WriteFile(package(), whole.substr(0, whole.size() / 2));
       },
       "Catalog Sync: The assay properties could not be read from the CatalogSync.dat file.\n"
       "detail: cause: "},
      {"missing database", [&] { ::unlink(database().c_str()); },
       "Catalog Sync: The following file was not found: " + database() + "\n"},
      // Neither blocks the run nor is read: a FIFO would wait for a writer for
      // ever, a device would be read until memory runs out.
      {"FIFO as package",
       [&] {
         ::unlink(package().c_str());
         ASSERT_EQ(::mkfifo(package().c_str(), 0644), 0);
       },
       kUnreadablePackage + "detail: cause: Device I/O error (57)\ndetail: file: " + package() +
           "\ndetail: system: not a regular file: a FIFO\n"},
      {"device as package",
       [&] {
         ::unlink(package().c_str());
         ASSERT_EQ(::symlink("/dev/zero", package().c_str()), 0);
       },
       kUnreadablePackage + "detail: cause: Device I/O error (57)\ndetail: file: " + package() +
           "\ndetail: system: not a regular file: a device\n"},
      {"FIFO as workbook", [&] { ASSERT_EQ(::mkfifo(workbook().c_str(), 0644), 0); },
       "ImportData0: An unexpected error occurred while running the Catalog Sync.\n"
       "Error Number: 57 Device I/O error\ndetail: file: " +
           workbook() + "\ndetail: system: not a regular file: a FIFO\n",
       "QVR"},
      // A package header followed by a 2 GiB hole: refused from its header
      // and size, without the hole being read into memory.
      {"sparse package",
       [&] { ASSERT_EQ(::truncate(package().c_str(), std::int64_t{2} << 30), 0); },
       kUnreadablePackage + "detail: cause: Invalid file format (321)\ndetail: package format: " +
           std::to_string((std::int64_t{2} << 30) - package_before.size()) +
           " trailing bytes after the block\ndetail: file: " + package() + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ::unlink(package().c_str());  // never write through the last case's link to /dev/zero
    ::unlink(workbook().c_str());
    WritePackage(b);
    testing_support::WriteFile(database(), before_);
    testing_support::WriteFile(marker(), "");
    c.arrange();
    const RunResult r = RunProgram({c.run});
    EXPECT_EQ(r.exit_status, 1);
    if (!testing_support::Sanitized()) {
      EXPECT_LT(r.peak_rss_kb, 64 * 1024) << "read into memory";
    }
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    if (c.err.back() == '\n') {
      EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(Exists(marker()));
    EXPECT_FALSE(Exists(backup()));
    if (c.run == std::string("QVR")) {
      EXPECT_EQ(ReadFile(package()), package_before);
    }
    if (c.what == std::string("missing database")) {
      EXPECT_FALSE(Exists(database()));
    } else {
      ExpectDatabaseUntouched();
    }
  }
}

// Anyone who can write a folder of the run can plant something at the fixed
// temporary name of a file that the run replaces there, or at the backup
// copy's name: a symbolic link (to a file elsewhere, or dangling), a hard
// link, or a FIFO; or at the marker's name. The run neither writes through it
// nor waits on it: the outside file keeps its bytes, the run succeeds, no
// temporary file is left, and the marker is a file of its own.
TEST_F(ProgramTest, PlantedFilesAtFixedNamesAreNeverWrittenThrough) {
  enum class Plant { kSymbolicLink, kDanglingLink, kHardLink, kFifo };
  const std::string nowhere = dir_.Sub("nowhere.mdb");
  const std::string outside = dir_.Sub("outside.txt");
  const struct {
    const char* keyword;
    std::string temporary;
    bool made = false;  // the run leaves a regular file there
  } names[] = {
      {"INSTALL", backup()},
      {"QVR", dir_.Sub("program/.CatalogSync.dat.tmp")},
      {"INSTALL", marker(), true},
  };
  for (const auto& n : names) {
    for (const Plant plant :
         {Plant::kSymbolicLink, Plant::kDanglingLink, Plant::kHardLink, Plant::kFifo}) {
      SCOPED_TRACE(n.temporary + " as plant " + std::to_string(static_cast<int>(plant)));
      testing_support::WriteFile(database(), before_);
      testing_support::WriteFile(outside, "not the program's");
      testing_support::CopyFile(
          testing_support::SourceDir() + "/tests/fixtures/import/five-sheets.xls", workbook());
      CatalogBuilder b;
      b.Add(40, "NEW", "ADD");
      WritePackage(b);
      ::unlink(n.temporary.c_str());
      switch (plant) {
        case Plant::kSymbolicLink:
          ASSERT_EQ(::symlink(outside.c_str(), n.temporary.c_str()), 0);
          break;
        case Plant::kDanglingLink:
          ASSERT_EQ(::symlink(nowhere.c_str(), n.temporary.c_str()), 0);
          break;
        case Plant::kHardLink: ASSERT_EQ(::link(outside.c_str(), n.temporary.c_str()), 0); break;
        case Plant::kFifo: ASSERT_EQ(::mkfifo(n.temporary.c_str(), 0666), 0); break;
      }
      const RunResult r = RunProgram({n.keyword});
      EXPECT_EQ(r.exit_status, 0) << r.err;
      EXPECT_EQ(ReadFile(outside), "not the program's");
      EXPECT_EQ(
          std::filesystem::symlink_status(n.temporary).type(),
          n.made ? std::filesystem::file_type::regular : std::filesystem::file_type::not_found);
      EXPECT_FALSE(Exists(nowhere));
    }
  }
}

TEST_F(ProgramTest, PackageReachedThroughALinkIsRewrittenWhereTheLinkLeads) {
  const std::string real = dir_.Sub("elsewhere/CatalogSync.dat", true);
  const std::string old_package = WriteOlderPackage();
  testing_support::WriteFile(real, old_package);
  ::unlink(package().c_str());
  ASSERT_EQ(::symlink(real.c_str(), package().c_str()), 0);
  testing_support::CopyFile(testing_support::SourceDir() + "/tests/fixtures/import/five-sheets.xls",
                            workbook());
  const RunResult r = RunProgram({"QVR"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  char target[4096] = {};
  EXPECT_GT(::readlink(package().c_str(), target, sizeof target - 1), 0) << "the link is gone";
  EXPECT_EQ(std::string(target), real);
  EXPECT_NE(ReadFile(real), old_package);
  EXPECT_TRUE(testing_support::TemporaryFilesIn(dir_.Sub("program")).empty());
  EXPECT_TRUE(testing_support::TemporaryFilesIn(dir_.Sub("elsewhere")).empty());
}

// A link is followed to a regular file only: the special file that a link
// leads to (here a FIFO; on a live system it might be /dev/zero, which a run
// as root would have replaced with a package) keeps its place.
TEST_F(ProgramTest, PackageLinkToASpecialFileIsRefusedAndTheFileKept) {
  const std::string fifo = dir_.Sub("elsewhere/fifo", true);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  ::unlink(package().c_str());
  ASSERT_EQ(::symlink(fifo.c_str(), package().c_str()), 0);
  testing_support::CopyFile(testing_support::SourceDir() + "/tests/fixtures/import/five-sheets.xls",
                            workbook());
  const RunResult r = RunProgram({"QVR"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "ImportData30: An unexpected error occurred while running the Catalog Sync.\n"
            "Error Number: 57 Device I/O error\ndetail: file: " +
                package() +
                "\ndetail: system: not a regular file: a FIFO\ndetail: link to: " + fifo + "\n");
  struct stat st {};
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "replaced by a regular file";
  EXPECT_TRUE(testing_support::TemporaryFilesIn(dir_.Sub("elsewhere")).empty());
}

TEST_F(ProgramTest, SuccessfulRunSaysNothingAndLeavesOnlyTheMarker) {
  testing_support::WriteFile(backup(), "an old backup copy");
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD", {100, 50, 0});
  b.Add(2, "CHOL", "MODIFY");
  b.Add(3, "ALT", "DELETE");
  b.Add(0, "SKIPPED", "ADD");
  WritePackage(b);
  const std::string package_before = ReadFile(package());
  const RunResult r = RunProgram({"INSTALL"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err + r.out, "");
  EXPECT_EQ(ReadFile(marker()), "");
  EXPECT_FALSE(Exists(backup()));
  EXPECT_FALSE(Exists(lock_file()));
  EXPECT_FALSE(Exists(database() + "-journal"));
  EXPECT_EQ(ReadFile(package()), package_before);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID = 40"), 2);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 2 AND Tests_FullName = "
                  "'Full name of CHOL'"),
            1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID IN (0, 3)"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Kits WHERE Kits_TestsID = 3"), 0);
}

// The walk stops at the first failing assay, whose box names it; the
// database is restored from the backup copy.
TEST_F(ProgramTest, OneFailingAssayRestoresTheDatabaseByteForByte) {
  testing_support::WriteFile(marker(), "");
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  b.Add(41, "O'NEIL-PLUS", "ADD");  // too long for TEXT(10)
  b.Add(42, "ALSO-TOO-LONG", "ADD");
  WritePackage(b);
  const RunResult r = RunProgram({"INSTALL"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "UpdateAssay 41: An unexpected error occurred while running the Catalog Sync.\n"
            "Error Number: 3001 The value does not fit the field\n"
            "detail: assay: position 2, test 41, mode ADD\n"
            "detail: table: Tests\ndetail: column: Tests_Name\ndetail: declared type: TEXT(10)\n"
            "detail: value: \"O'NEIL-PLUS\"\n"
            "detail: database: rolled back to its state before the run\n");
  EXPECT_FALSE(Exists(marker()));
  EXPECT_FALSE(Exists(backup()));
  ExpectDatabaseUntouched();

  // The same run with no one to read its messages still restores and cleans up.
  testing_support::WriteFile(marker(), "");
  const RunResult unread = testing_support::Run(program(), {"INSTALL"}, {{"SYSTEM_DRIVE", drive()}},
                                                testing_support::StandardError::kPipeWithoutReader);
  EXPECT_EQ(unread.exit_status, 1);
  EXPECT_FALSE(Exists(marker()));
  EXPECT_FALSE(Exists(backup()));
  ExpectDatabaseUntouched();
}

// Other programs share the database: a second run, a client that commits
// while the run goes on, a reader that holds its lock past the commit. The
// package's second assay fails, so each run that gets as far as the walk
// fails and must leave the database as the others left it.
class SharedDatabaseTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    testing_support::WriteFile(marker(), "");
    CatalogBuilder b;
    b.Add(40, "NEW", "ADD");
    b.Add(41, "FAR TOO LONG", "ADD");
    WritePackage(b);
  }
  static constexpr const char* kRolledBack =
      "detail: database: rolled back to its state before the run\n";
};

// The second run fails before it touches anything, even the marker.
TEST_F(SharedDatabaseTest, ASecondRunFailsBeforeItTouchesAnything) {
  const int folder = ::open((drive() + "/Corvista1000/Databases").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  ASSERT_EQ(::flock(folder, LOCK_EX), 0);  // what the first run holds
  const RunResult r = RunProgram({"INSTALL"});
  ::close(folder);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "Catalog Sync: An unexpected error occurred while running the Catalog Sync.\n"
            "Error Number: 70 Permission denied\n"
            "detail: another CatalogSync run holds the database: " +
                database() + "\n");
  EXPECT_TRUE(Exists(marker()));
  EXPECT_FALSE(Exists(backup()));
  ExpectDatabaseUntouched();
}

// A client commits a row after the backup copy was taken and before the
// walk; the failed walk is rolled back and the row stays. The database is
// reached through a symbolic link, which stays.
TEST_F(SharedDatabaseTest, AFailedRunKeepsWhatOthersCommittedAndTheLinkToTheDatabase) {
  const std::string real = dir_.Sub("elsewhere/Corvista1k.mdb", true);
  std::filesystem::rename(database(), real);
  std::filesystem::create_symlink(real, database());
  platform::engine::Database client = platform::engine::Database::Open(database());
  client.Exec(
      "BEGIN IMMEDIATE; INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) VALUES (9, 'OTHER')");
  RunResult r;
  std::thread run([&] { r = RunProgram({"INSTALL"}); });
  // The run waits for the client's write lock before its walk can begin.
  while (!Exists(backup())) ::usleep(1000);
  client.Exec("COMMIT");
  run.join();
  client.Close();
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind("UpdateAssay 41:", 0), 0u) << r.err;
  EXPECT_TRUE(r.err.ends_with(kRolledBack)) << r.err;
  EXPECT_TRUE(std::filesystem::is_symlink(database()));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Kits WHERE Kits_LotNumber = 'OTHER'"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 40"), 0);
  EXPECT_EQ(Text("PRAGMA integrity_check"), "ok");
  EXPECT_FALSE(Exists(backup()));
  EXPECT_FALSE(Exists(marker()));
}

// A reader holds its shared lock past the busy timeout: the COMMIT fails,
// and the run ends as a failed walk does.
TEST_F(SharedDatabaseTest, ACommitThatFailsIsAFailedWalk) {
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  WritePackage(b);
  platform::engine::Database reader = platform::engine::Database::Open(database());
  reader.Exec("BEGIN");
  ASSERT_EQ(reader.Query("SELECT COUNT(*) FROM Tests").rows.size(), 1u);
  const RunResult r = RunProgram({"INSTALL"});
  reader.Exec("ROLLBACK");
  reader.Close();
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "Catalog Sync: An unexpected error occurred while running the Catalog Sync.\n"
            "Error Number: 5 database is locked\ndetail: SQL: COMMIT\n" +
                std::string(kRolledBack));
  EXPECT_FALSE(Exists(backup()));
  EXPECT_FALSE(Exists(marker()));
  ExpectDatabaseUntouched();
}

}  // namespace
}  // namespace catalog_sync
