// CatalogSync run as the real program: copied into a temporary program
// folder, with a temporary system drive holding the analyser database.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "tests/catalog_sync/program_fixture.h"
#include "tests/support/test_support.h"

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

TEST_F(ProgramTest, MissingOrUnreadableFilesAreNamedAndNothingIsCopied) {
  const struct {
    const char* what;
    std::function<void()> arrange;
    std::string err;  // the start of standard error
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CatalogBuilder b;
    b.Add(40, "NEW", "ADD");
    b.Add(41, "NEWER", "ADD");
    WritePackage(b);
    testing_support::WriteFile(database(), before_);
    testing_support::WriteFile(marker(), "");
    c.arrange();
    const RunResult r = RunProgram({"INSTALL"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    if (c.err.back() == '\n') {
      EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(Exists(marker()));
    EXPECT_FALSE(Exists(backup()));
    if (c.what == std::string("missing database")) {
      EXPECT_FALSE(Exists(database()));
    } else {
      ExpectDatabaseUntouched();
    }
  }
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
            "detail: value: \"O'NEIL-PLUS\"\n");
  EXPECT_FALSE(Exists(marker()));
  EXPECT_FALSE(Exists(backup()));
  ExpectDatabaseUntouched();
}

// SQLite would store a NaN as null: it is refused like any value that does
// not fit its field, also in a DOUBLE column.
TEST_F(ProgramTest, ANaNIsRefusedAndNotStoredAsNull) {
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD").SetAssayMax(std::numeric_limits<double>::quiet_NaN());
  WritePackage(b);
  const RunResult r = RunProgram({"INSTALL"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "UpdateAssay 40: An unexpected error occurred while running the Catalog Sync.\n"
            "Error Number: 3001 The value does not fit the field\n"
            "detail: assay: position 1, test 40, mode ADD\n"
            "detail: table: Tests\ndetail: column: Tests_AssayMax\ndetail: declared type: DOUBLE\n"
            "detail: value: NAN\n");
  ExpectDatabaseUntouched();
}

}  // namespace
}  // namespace catalog_sync
