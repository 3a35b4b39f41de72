// Hostile input through the real program: test names built to break out of
// SQL, texts at the workbook's 32,767-character limit and texts holding NUL
// characters, the largest package there can be and a workbook of a thousand
// sheets. Each run succeeds with the texts stored exactly, or fails with its
// defined message and the database as it was; no other table or row changes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "catalog_sync/records/file_manager.h"
#include "tests/catalog_sync/program_fixture.h"
#include "tests/platform/workbook_biff_writer.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace catalog_sync {
namespace {

using namespace std::string_literals;
using testing::CatalogBuilder;
using testing::ProgramTest;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::Sanitized;

class HostileInputTest : public ProgramTest {
 protected:
  // Every schema object's SQL, as the sqlite3 tool lists it.
  std::string Schema() {
    const RunResult r = testing_support::Run(
        "/usr/bin/sqlite3",
        {database(), "SELECT type, name, sql FROM sqlite_schema ORDER BY name"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    return r.out;
  }
  // The row counts of the rows that the run must leave alone: those of the
  // sample tests 1 to 3 and the tables the run never writes.
  std::string OtherRows() {
    return std::to_string(Count("SELECT count(*) FROM Tests WHERE Tests_ID < 40")) + " " +
           std::to_string(Count("SELECT count(*) FROM TestVolumes WHERE TV_TestsID < 40")) + " " +
           std::to_string(Count("SELECT count(*) FROM TestRanges WHERE TR_TestsID < 40")) + " " +
           std::to_string(Count("SELECT count(*) FROM Kits")) + " " +
           std::to_string(Count("SELECT count(*) FROM SoftwareVersion"));
  }
};

// Texts bound as values are stored exactly, a NUL like any other character
// with every character after it. Tests_Name is TEXT(10), Tests_FullName
// TEXT(50).
TEST_F(HostileInputTest, TestNamesBuiltToBreakOutOfSqlOrHoldingNulAreStoredExactly) {
  const std::pair<std::string, std::string> names[] = {
      {"x\";DROP--", "x\"; DROP TABLE Tests; --"},
      {"'];DEL--[", "]; DELETE FROM Tests; ["},
      {"a');--", "'); DELETE FROM TestVolumes; --"},
      {"\"[;]'--", "\" || (SELECT sql FROM sqlite_schema) || \""},
      {"DROP TABLE", "DROP TABLE Tests"},
      {"Tests", "SavedQueries"},
      {"--", "/*"},
      {"' OR 1=1", "\"; UPDATE Tests SET Tests_Name = 'x'; --"},
      {"G\0U"s, "a\0'); DROP TABLE Tests; --"s},
  };
  const std::string schema = Schema(), others = OtherRows();
  CatalogBuilder b;
  for (std::size_t i = 0; i < std::size(names); ++i) {
    b.Add(static_cast<std::int16_t>(40 + i), names[i].first, "ADD")
        .SetTestFullName(names[i].second);
  }
  WritePackage(b);
  const RunResult r = RunProgram({"INSTALL"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const std::string where = " FROM Tests WHERE Tests_ID = " + std::to_string(40 + i);
    EXPECT_EQ(Text("SELECT Tests_Name" + where), names[i].first);
    EXPECT_EQ(Text("SELECT Tests_FullName" + where), names[i].second);
  }
  EXPECT_EQ(Count("SELECT count(*) FROM Tests WHERE Tests_ID >= 40"),
            static_cast<std::int64_t>(std::size(names)));
  EXPECT_EQ(Schema(), schema);
  EXPECT_EQ(OtherRows(), others);
}

// 32,766 assays, the most a package may hold: all but the last have test
// number 0, which the run skips after reading them, so that the run is
// about the reading of the package, not about 32,766 database rows.
TEST_F(HostileInputTest, TheLargestPackageInstallsWithBoundedMemory) {
  constexpr int kAssays = 32766;
  CatalogBuilder b;
  for (int i = 1; i < kAssays; ++i) b.Add(0, "SKIP", "ADD");
  b.Add(40, "LAST", "ADD");
  WritePackage(b);
  const RunResult r = RunProgram({"INSTALL"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(Text("SELECT Tests_Name FROM Tests WHERE Tests_ID = 40"), "LAST");
  EXPECT_EQ(Count("SELECT count(*) FROM Tests"), 4);
  if (Sanitized()) return;  // the sanitizer's shadow memory would dominate the figure
  const long package_kb = static_cast<long>(ReadFile(package()).size() / 1024);
  RecordProperty("package_kb", std::to_string(package_kb));
  RecordProperty("peak_rss_kb", std::to_string(r.peak_rss_kb));
  EXPECT_LT(r.peak_rss_kb, 8 * package_kb + 64 * 1024) << "package of " << package_kb << " KB";
}

// --- Workbooks of a QVR run --------------------------------------------------

std::string ImportFixture(const std::string& name) {
  return testing_support::SourceDir() + "/tests/fixtures/import/" + name + ".xls";
}

// A LibreOffice workbook whose sheet 3 (test 14, ALB) holds a full name of
// 32,767 characters: read whole, refused by the database's TEXT(50) with the
// database restored.
TEST_F(HostileInputTest, A32767CharacterTextIsReadWholeAndRefusedByTheField) {
  testing_support::CopyFile(ImportFixture("long-text-in-h7"), workbook());
  const RunResult r = RunProgram({"QVR"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.substr(0, r.err.find("detail:")),
            "UpdateAssay 14: An unexpected error occurred while running the Catalog Sync.\n"
            "Error Number: 3001 The value does not fit the field\n")
      << r.err.substr(0, 2000);
  EXPECT_NE(r.err.find("detail: table: Tests\ndetail: column: Tests_FullName\n"), std::string::npos)
      << r.err.substr(0, 2000);
  std::string text;
  for (int i = 0; i < 32767; ++i) text += static_cast<char>('a' + i % 26);
  EXPECT_NE(r.err.find("detail: value: \"" + text + "\"\n"), std::string::npos);
  ExpectDatabaseUntouched();
}

std::string Label(int row, int column, const std::string& text) {
  using namespace workbook_test;
  return Rec(0x0204, U16(static_cast<std::uint16_t>(row - 1)) +
                         U16(static_cast<std::uint16_t>(column - 1)) + U16(15) + Compressed(text));
}

// An assay sheet with only the test name (B1), number (B2) and mode (D2).
workbook_test::Sheet AssaySheet(const std::string& name, int number) {
  return {name, 0, 0, Label(1, 2, name) + workbook_test::Number(2, 2, number) + Label(2, 4, "ADD")};
}

// A thousand sheets, the first assay's name holding a NUL.
TEST_F(HostileInputTest, AThousandSheetWorkbookWithNulInATextInstallsInBoundedTimeAndMemory) {
  const std::string schema = Schema(), others = OtherRows();
  std::vector<workbook_test::Sheet> sheets = {{"Cover", 0, 0, ""}, AssaySheet("G\0U;--"s, 40)};
  for (int i = 2; i < 1000; ++i) sheets.push_back(AssaySheet("T" + std::to_string(i), 1000 + i));
  testing_support::WriteFile(workbook(),
                             workbook_test::CompoundFile(workbook_test::Stream(sheets)));
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = RunProgram({"QVR"});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(Text("SELECT Tests_Name FROM Tests WHERE Tests_ID = 40"), "G\0U;--"s);
  EXPECT_EQ(Count("SELECT count(*) FROM Tests WHERE Tests_ID > 1000"), 998);
  EXPECT_EQ(Text("SELECT Tests_Name FROM Tests WHERE Tests_ID = 1999"), "T999");
  EXPECT_EQ(Schema(), schema);
  EXPECT_EQ(OtherRows(), others);
  EXPECT_LT(seconds, 60);
  if (Sanitized()) return;
  EXPECT_LT(r.peak_rss_kb, 256 * 1024);
}

}  // namespace
}  // namespace catalog_sync
