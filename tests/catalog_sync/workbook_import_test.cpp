// The workbook import of a "QVR" run, through the real program: workbooks
// written by LibreOffice (tests/fixtures/import, see its generator), the
// package file the run writes read back, and the failures it reports.
#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalog_package/catalog_json.h"
#include "catalog_sync/records/file_manager.h"
#include "catalog_sync/records/record_properties.h"
#include "platform/core/value.h"
#include "platform/engine/database.h"
#include "tests/support/catalog.h"
#include "tests/catalog_sync/program_fixture.h"
#include "tests/platform/workbook_biff_writer.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace catalog_sync {
namespace {

using platform::Value;
using testing::Catalog;
using testing::CatalogBuilder;
using testing::ProgramTest;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunResult;

std::string Fixture(const std::string& name) {
  return testing_support::SourceDir() + "/tests/fixtures/import/" + name + ".xls";
}

class WorkbookImportTest : public ProgramTest {
 protected:
  void UseWorkbook(const std::string& path) { testing_support::CopyFile(path, workbook()); }
  Catalog ReadPackage() {
    Catalog c;
    platform::Error failure(0, "");
    EXPECT_TRUE(FileManager(package()).ReadProperties(c.assays, c.volumes, &failure))
        << failure.description();
    return c;
  }
};

// --- Failures ----------------------------------------------------------------

struct FailureCase {
  const char* fixture;  // "" for an empty file, "chart-sheet" for ChartSheetWorkbook()
  const char* title;
  const char* error;    // "<number> <description>"
  std::string details;  // the detail lines; {workbook} stands for the workbook's path
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << (*c.fixture ? c.fixture : "empty file");
}

// LibreOffice turns a chart sheet into a worksheet holding a chart, so this
// workbook is made by hand: test 12 on sheet 2, then a chart sheet, which the
// spreadsheet application has no cells of.
std::string ChartSheetWorkbook() {
  using namespace workbook_test;
  return CompoundFile(
      Stream({{"Cover", 0, 0, ""}, {"GLU", 0, 0, Number(2, 2, 12)}, {"Volumes", 2, 0, ""}}));
}

// Sheet 2 of each failing fixture holds test 12 (GLU), sheet 3 test 14 (ALB),
// whose one cell named by the fixture fails.
std::string AtAlb(const std::string& cell, const std::string& value) {
  return "detail: sheet: position 3, \"ALB\"\ndetail: cell: " + cell + "\ndetail: value: " + value +
         "\n";
}

class ImportFailureTest : public WorkbookImportTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ImportFailureTest, ShowsTheImportBoxAndTouchesNoFile) {
  const FailureCase& c = GetParam();
  const std::string package_before = WriteOlderPackage();
  testing_support::WriteFile(marker(), "");
  if (c.fixture == std::string("chart-sheet")) {
    testing_support::WriteFile(workbook(), ChartSheetWorkbook());
  } else if (*c.fixture) {
    UseWorkbook(Fixture(c.fixture));
  } else {
    testing_support::WriteFile(workbook(), "");
  }

  const RunResult r = RunProgram({"QVR"});
  std::string details = c.details;
  if (const auto at = details.find("{workbook}"); at != std::string::npos) {
    details.replace(at, std::string("{workbook}").size(), workbook());
  }
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, std::string(c.title) +
                       ": An unexpected error occurred while running the Catalog Sync.\n"
                       "Error Number: " +
                       c.error + "\n" + details);
  EXPECT_EQ(ReadFile(package()), package_before);
  EXPECT_FALSE(Exists(marker()));
  EXPECT_FALSE(Exists(backup()));
  ExpectDatabaseUntouched();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportFailureTest,
    ::testing::Values(
        FailureCase{"", "ImportData0", "3100 Not a workbook file",
                    "detail: problem: not a compound file\ndetail: file: {workbook}\n"},
        // A compound file whose directory libgsf warns about: its warnings
        // must not reach standard error, only the reader's own error.
        FailureCase{"damaged-directory", "ImportData0", "3103 Workbook is damaged",
                    "detail: record offset: 1269\ndetail: problem: string data cut off\n"
                    "detail: file: {workbook}\n"},
        FailureCase{"chart-sheet", "ImportData12",
                    "438 Object doesn't support this property or method",
                    "detail: sheet: position 3, \"Volumes\"\n"
                    "detail: problem: a chart or module sheet has no cells\n"},
        FailureCase{"one-sheet", "ImportData0", "9 Subscript out of range",
                    "detail: sheets: 1 (assays from sheet 2 on)\n"
                    "detail: test-volume table: cannot be sized to assay positions 1 to 0\n"},
        FailureCase{"text-in-h11", "ImportData14", "13 Type mismatch",
                    AtAlb("H11 (CalibrationFreq)", "\"monthly\"")},
        FailureCase{"h26-300", "ImportData14", "6 Overflow",
                    AtAlb("H26 (NumOfCalibrators)", "300")},
        FailureCase{"h26-minus-1", "ImportData14", "6 Overflow",
                    AtAlb("H26 (NumOfCalibrators)", "-1")},
        FailureCase{"h17-40000", "ImportData14", "6 Overflow",
                    AtAlb("H17 (NumOfReagents)", "40000")},
        FailureCase{"e5-beyond-single", "ImportData14", "6 Overflow",
                    AtAlb("E5 (SampleVol)", "1E+39")},
        FailureCase{"error-in-number", "ImportData14", "13 Type mismatch",
                    AtAlb("H10 (ConversionFactor)", "Error 2007")},
        FailureCase{"error-in-flag", "ImportData14", "13 Type mismatch",
                    AtAlb("H31 (Active)", "Error 2042")},
        FailureCase{"error-in-text", "ImportData14", "13 Type mismatch",
                    AtAlb("H7 (TestFullName)", "Error 2015")},
        FailureCase{"error-in-volume", "ImportData14", "13 Type mismatch",
                    AtAlb("C13 (InitWater of part 1)", "Error 2023")},
        // B2 itself fails: the title keeps the test number of sheet 2.
        FailureCase{"text-in-b2", "ImportData12", "13 Type mismatch",
                    AtAlb("B2 (TestNumber)", "\"x\"")}));

// --- What the workbook gives -------------------------------------------------

// A property of the assay at a position, as the package holds it.
struct AssayValue {
  std::int32_t position;
  const char* property;
  Value expected;
};

// five-sheets.xls: sheet 1 holds a text that is no number in every cell an
// assay sheet is read from; sheets 2 to 5 hold the first four example assays
// (tests 12, 14, 21, 30) with the cells changed that the comments name.
const AssayValue kFiveSheetValues[] = {
    {1, "TestNumber", Value(std::int16_t{12})},
    {1, "TestName", Value("GLU")},
    {1, "Mode", Value("ADD")},                         // D2 " add "
    {1, "Formula", Value(std::int16_t{2})},            // H16 2.5
    {1, "CalibrationFreq", Value(std::int32_t{-1})},   // H11 TRUE
    {1, "DefaultUnits", Value("True")},                // H8 TRUE
    {1, "Active", Value(true)},                        // H31 TRUE
    {1, "DiluteControl", Value(false)},                // H25 FALSE
    {2, "Formula", Value(std::int16_t{4})},            // H16 3.5
    {2, "DiluteControl", Value(true)},                 // H25 " yes "
    {2, "Active", Value(false)},                       // H31 "false"
    {3, "TestName", Value("123")},                     // B1 123
    {3, "ConversionFactor", Value(1.5)},               // H10 " 1.5 "
    {3, "NumOfCalibrators", Value(std::uint8_t{3})},   // H26 "3"
    {3, "NumOfReplicates", Value(std::uint8_t{255})},  // H27 255
    {3, "AssayLow", Value(5.0)},                       // H12 =2+3
    {3, "SampleVol", Value(2.5f)},                     // E5 2.5
    {3, "SampleVolKey", Value(std::int32_t{2})},       // C5 1.5
    {4, "TestNumber", Value(std::int16_t{30})},
    {4, "TestName", Value("ALT")},
    {4, "Mode", Value("MODIFY")},
};

TEST_F(WorkbookImportTest, FiveSheetsGiveFourAssaysConvertedCellByCell) {
  UseWorkbook(Fixture("five-sheets"));
  const std::string workbook_before = ReadFile(workbook());
  const RunResult r = RunProgram({"QVR"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(Exists(marker()));
  EXPECT_EQ(ReadFile(workbook()), workbook_before);

  const Catalog c = ReadPackage();
  ASSERT_EQ(c.assays.Count(), 4);
  for (const AssayValue& v : kFiveSheetValues) {
    const Value got = AssayPropertyNamed(v.property).get(c.assays.Item(v.position));
    EXPECT_TRUE(got.SameAs(v.expected)) << "assay " << v.position << " " << v.property << ": "
                                        << got.Describe() << ", not " << v.expected.Describe();
  }
  // GLU: C21 to C23 hold texts and a huge number between WashFill (C18..C20)
  // and LastWash (C24..C26), which would fail any volume they were read into.
  EXPECT_EQ(c.volumes.At(1, 0).WashFill(), 120);
  EXPECT_EQ(c.volumes.At(1, 0).LastWash(), 80);
  // ALB: every volume cell emptied.
  for (std::int32_t part = 0; part < TestVolumeTable::kParts; ++part) {
    for (const TestVolumeProperty& p : TestVolumeProperties()) {
      if (p.derivation != Derivation::kStored) continue;
      EXPECT_TRUE(p.get(c.volumes.At(2, part)).SameAs(Value(std::int32_t{0})))
          << "part " << part << " " << p.name;
    }
  }
  EXPECT_EQ(c.volumes.At(4, 1).ReagentVol(), 50);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 12 AND Tests_CalibrationFreq = -1"),
            1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 21 AND Tests_Name = '123'"), 1);
}

// Some producers write formula cells under FORMULA's BIFF4 number into BIFF8
// sheets: their results are imported like any other formula's.
TEST_F(WorkbookImportTest, FormulasUnderTheirBiff4NumberImportTheirResults) {
  using namespace workbook_test;
  const std::string stream = WorkbookStreamOf(ReadFile(Fixture("five-sheets")));
  testing_support::WriteFile(workbook(), CompoundFile(Retyped(stream, 0x0006, 0x0406)));
  const RunResult r = RunProgram({"QVR"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  // Sheet 4's H12 holds =2+3.
  EXPECT_TRUE(AssayPropertyNamed("AssayLow").get(ReadPackage().assays.Item(3)).SameAs(Value(5.0)));
}

// The example workbook, made from examples/catalog.json, brings exactly that
// catalogue; its package, installed on the same database, leaves what the
// workbook run left, but for an existing normal range: only a workbook run
// overwrites its limits.
TEST_F(WorkbookImportTest, ExampleWorkbookAndThePackageItWroteInstallTheSame) {
  const std::string site_range =
      "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc, "
      "TR_LowOperator, TR_HighOperator) VALUES (14, 1, 3.4, 5.4, 'NORMAL', 0, 0)";
  platform::engine::Database::Open(database()).Exec(site_range);
  const std::string start = ReadFile(database());
  const std::string range_of_14 =
      "SELECT TR_Low || ' ' || TR_High FROM TestRanges WHERE TR_TestsID = 14";

  UseWorkbook(testing_support::SourceDir() + "/examples/CatalogSync.xls");
  const RunResult qvr = RunProgram({"QVR"});
  ASSERT_EQ(qvr.exit_status, 0) << qvr.err;
  Catalog expected;
  catalog_package::CatalogFromJson(
      nlohmann::json::parse(ReadFile(testing_support::SourceDir() + "/examples/catalog.json")),
      expected.assays, expected.volumes);
  testing::ExpectSameCatalog(expected, ReadPackage(), /*with_derived=*/false);
  const std::string after_qvr = testing::DumpDatabase(database());
  EXPECT_EQ(Text(range_of_14), "3.5 5.2");

  testing_support::WriteFile(database(), start);
  const std::string before = testing::DumpDatabase(database());
  const RunResult install = RunProgram({"INSTALL"});
  ASSERT_EQ(install.exit_status, 0) << install.err;
  EXPECT_EQ(Text(range_of_14), "3.4 5.4");
  platform::engine::Database::Open(database())
      .Exec("UPDATE TestRanges SET TR_Low = 3.5, TR_High = 5.2 WHERE TR_TestsID = 14");
  EXPECT_EQ(testing::DumpDatabase(database()), after_qvr);
  EXPECT_NE(after_qvr, before);
}

}  // namespace
}  // namespace catalog_sync
