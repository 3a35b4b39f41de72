// CatalogSync run as the real program: copied into a temporary program
// folder, with a temporary system drive holding the analyser database.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/engine/database.h"
#include "tests/catalog_sync/program_fixture.h"
#include "tests/support/test_support.h"

namespace catalog_sync {
namespace {

using platform::engine::Database;
using testing::CatalogBuilder;
using testing::ProgramTest;
using testing::QueryCount;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunResult;

constexpr const char* kBadCommand =
    "Catalog Sync: An incorrect command parameter was supplied. Program Aborted.\n"
    "detail: usage: CatalogSync QVR | INSTALL\n";

// --- The keyword ------------------------------------------------------------

class BadKeywordTest : public ProgramTest,
                       public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(BadKeywordTest, IsRefusedAndLeavesEveryFileButTheMarkerAsItWas) {
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  WritePackage(b);
  testing_support::WriteFile(marker(), "");
  const RunResult r = RunProgram(GetParam());
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_EQ(r.err, kBadCommand);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(Exists(marker()));
  EXPECT_FALSE(Exists(backup()));
  ExpectDatabaseUntouched();
}

INSTANTIATE_TEST_SUITE_P(Forms, BadKeywordTest,
                         ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{""},
                                           std::vector<std::string>{"   "},
                                           std::vector<std::string>{"UPDATE"},
                                           std::vector<std::string>{"INSTALLS"},
                                           std::vector<std::string>{"QVR INSTALL"},
                                           std::vector<std::string>{"INSTALL", "QVR"},
                                           std::vector<std::string>{"INSTALL", "INSTALL"},
                                           std::vector<std::string>{"\tINSTALL"}));

class InstallSpellingTest : public ProgramTest,
                            public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(InstallSpellingTest, SelectsTheInstallRun) {
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  WritePackage(b);
  const RunResult r = RunProgram(GetParam());
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 40"), 1);
}

INSTANTIATE_TEST_SUITE_P(Forms, InstallSpellingTest,
                         ::testing::Values(std::vector<std::string>{"INSTALL"},
                                           std::vector<std::string>{"install"},
                                           std::vector<std::string>{"  InStAlL "},
                                           std::vector<std::string>{"", "Install", ""}));

class QvrSpellingTest : public ProgramTest,
                        public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(QvrSpellingTest, SelectsTheWorkbookRun) {
  const RunResult r = RunProgram(GetParam());
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "Catalog Sync: The following file was not found: " +
                       dir_.Sub("program/CatalogSync.xls") + "\n");
  ExpectDatabaseUntouched();
}

INSTANTIATE_TEST_SUITE_P(Forms, QvrSpellingTest,
                         ::testing::Values(std::vector<std::string>{"QVR"},
                                           std::vector<std::string>{"qvr"},
                                           std::vector<std::string>{" Qvr  "}));

// --- Missing and unreadable files --------------------------------------------

TEST_F(ProgramTest, MissingPackageIsNamed) {
  testing_support::WriteFile(marker(), "");
  const RunResult r = RunProgram({"INSTALL"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "Catalog Sync: The following file was not found: " + package() + "\n");
  EXPECT_FALSE(Exists(marker()));  // a stale marker goes with any failing run
  EXPECT_FALSE(Exists(backup()));
  ExpectDatabaseUntouched();
}

TEST_F(ProgramTest, UnreadablePackageIsReportedWithTheReadersCause) {
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  b.Add(41, "NEWER", "ADD");
  WritePackage(b);
  const std::string whole = ReadFile(package());
  testing_support::WriteFile(package(), whole.substr(0, whole.size() / 2));
  const RunResult r = RunProgram({"INSTALL"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind("Catalog Sync: The assay properties could not be read from the "
                        "CatalogSync.dat file.\ndetail: cause: ",
                        0),
            0u)
      << r.err;
  EXPECT_FALSE(Exists(backup()));
  ExpectDatabaseUntouched();
}

TEST_F(ProgramTest, MissingDatabaseIsNamedAndNothingIsCopied) {
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  WritePackage(b);
  testing_support::WriteFile(marker(), "");
  ::unlink(database().c_str());
  const RunResult r = RunProgram({"INSTALL"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "Catalog Sync: The following file was not found: " + database() + "\n");
  EXPECT_FALSE(Exists(database()));
  EXPECT_FALSE(Exists(backup()));
  EXPECT_FALSE(Exists(marker()));
}

TEST_F(ProgramTest, DatabaseThatCannotBeOpenedShowsOnlyTheConnectionsMessage) {
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  WritePackage(b);
  // Any file that is no database: here the package itself.
  testing_support::CopyFile(package(), database());
  const std::string damaged = ReadFile(database());
  const RunResult r = RunProgram({"INSTALL"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind("Open Connection: The following error occured while opening the "
                        "database\nError Number: 26 file is not a database\n",
                        0),
            0u)
      << r.err;
  EXPECT_EQ(r.err.find("Catalog Sync:"), std::string::npos);
  EXPECT_TRUE(ReadFile(database()) == damaged);
  EXPECT_FALSE(Exists(backup()));  // never a copy of a file that cannot be opened
}

// --- Whole runs -------------------------------------------------------------

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
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Exists(marker()));
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

TEST_F(ProgramTest, OneFailingAssayRestoresTheDatabaseByteForByte) {
  testing_support::WriteFile(marker(), "");
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  b.Add(41, "O'NEIL-PLUS", "ADD");  // too long for TEXT(10)
  b.Add(42, "ALSO-TOO-LONG", "ADD");
  WritePackage(b);
  const RunResult r = RunProgram({"INSTALL"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.substr(0, r.err.find("detail:")),
            "UpdateAssay 41: An unexpected error occurred while running the Catalog Sync.\n"
            "Error Number: 3001 The value does not fit the field\n");
  EXPECT_NE(r.err.find("detail: assay: position 2, test 41, mode ADD\n"), std::string::npos);
  EXPECT_NE(r.err.find("detail: value: \"O'NEIL-PLUS\"\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("42"), std::string::npos) << "assay 3 was looked at: " << r.err;
  EXPECT_FALSE(Exists(marker()));
  EXPECT_FALSE(Exists(backup()));
  ExpectDatabaseUntouched();
}

// A program killed in the middle of a transaction leaves a hot journal beside
// a half-written database. The run must take its backup copy only after that
// journal has been rolled back: a copy of the half-written file would,
// restored, be a damaged database.
TEST_F(ProgramTest, HotJournalIsRolledBackBeforeTheBackupCopy) {
  ASSERT_NO_FATAL_FAILURE(LeaveHotJournal());
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  b.Add(41, "FAR TOO LONG", "ADD");
  WritePackage(b);
  const RunResult r = RunProgram({"INSTALL"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind("UpdateAssay 41:", 0), 0u) << r.err;
  EXPECT_FALSE(Exists(backup()));
  Database db = Database::Open(database());
  EXPECT_EQ(testing::QueryValue(db, "PRAGMA integrity_check").ToText(), "ok");
  EXPECT_EQ(QueryCount(db, "SELECT COUNT(*) FROM Kits WHERE Kits_LotNumber LIKE 'HALF%'"), 0);
  EXPECT_EQ(QueryCount(db, "SELECT COUNT(*) FROM Kits"), 3004);
  EXPECT_EQ(QueryCount(db, "SELECT COUNT(*) FROM Tests WHERE Tests_ID = 40"), 0);
}

}  // namespace
}  // namespace catalog_sync
