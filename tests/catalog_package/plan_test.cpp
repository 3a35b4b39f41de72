// CatalogPackage plan against the real CatalogSync run: for each catalogue,
// the plan is made first, then the real run on the same database; the rows
// the plan says each assay changes, applied to the database as it was, must
// give the database the run leaves, and a failing run must fail at the same
// assay with the same message. The plan itself must leave the database and
// its folder exactly as they were.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/engine/database.h"
#include "tests/catalog_sync/program_fixture.h"
#include "tests/support/databases.h"

namespace catalog_sync::testing {
namespace {

using nlohmann::json;
using testing_support::ReadFile;
using testing_support::RunResult;

struct AssaySpec {
  std::int16_t test;
  const char* name;
  const char* mode;
  std::array<std::int32_t, 3> reagent_vols = {100, 0, 0};
  std::optional<double> assay_max = std::nullopt;  // else the builder's
};

struct PlanCase {
  const char* label;
  std::vector<AssaySpec> assays;
  // "outcome" or "outcome (reason)" of each assay the plan shows.
  std::vector<std::string> outcomes;
  std::int32_t failing_position = 0;  // 0: the run succeeds
  bool read_only_database = false;    // mode 0444, which holds for root too
};

// Sample data: tests 1 GLU, 2 CHOL, 3 ALT with volumes, ranges and kits.
// Every outcome, and tests met again later in the walk, which the plan must
// see as the earlier assays left them.
const PlanCase kCases[] = {
    {"EveryOutcome",
     {{40, "NEW", "ADD", {100, 50, 0}},
      {2, "CHOL", "MODIFY"},
      {1, "GLU", "ADD", {0, 0, 0}},
      {41, "MISSING", "MODIFY", {10, 20, 30}},
      {3, " alt ", "DELETE"},
      {0, "SKIPPED", "ADD"},
      {3, "ALT", "REMOVE"},
      {3, "ALT", ""},
      {77, "NONE", "DELETE"}},
     {"added", "updated", "updated", "added", "deleted", "skipped (test number 0)",
      "skipped (unknown mode)", "skipped (unknown mode)", "deleted (no such test)"}},
    {"TestsMetAgain",
     {{3, "OTHER", "DELETE"},
      {3, "ALT", "DELETE"},
      {3, "ALT", "ADD", {5, 0, 6}},
      {2, "CHOL", "MODIFY", {7, 8, 9}},
      {2, "CHOL2", "MODIFY", {0, 8, 0}}},
     {"deleted (name does not match, kits only)", "deleted", "added", "updated", "updated"}},
    {"FailureAtTheSecondAssay",
     {{40, "NEW", "ADD"}, {41, "O'NEIL-PLUS", "ADD"}, {42, "ALSO-TOO-LONG", "ADD"}},
     {"added"},
     2},
    // SQLite would store a NaN as null in the DOUBLE column.
    {"NaNIsRefused",
     {{40, "NEW", "ADD"},
      {41, "NAN", "ADD", {100, 0, 0}, std::numeric_limits<double>::quiet_NaN()}},
     {"added"},
     2},
    {"ReadOnlyDatabase", {{40, "NEW", "ADD"}}, {}, 1, true},
};

void PrintTo(const PlanCase& c, std::ostream* os) {
  *os << c.label;
}

// A table's rows by (table, rowid), each row as its column values in JSON.
using Rows = std::map<std::pair<std::string, std::int64_t>, json>;

json CellJson(const platform::Value& v) {
  switch (v.kind()) {
    case platform::ValueKind::kNull: return nullptr;
    case platform::ValueKind::kText: return v.text();
    case platform::ValueKind::kDouble: return v.ToDouble();
    default: return v.ToLong();
  }
}

Rows ReadRows(const std::string& path) {
  platform::engine::Database db = platform::engine::Database::Open(path);
  Rows rows;
  for (const char* table : {"Tests", "TestVolumes", "TestRanges", "Kits"}) {
    const platform::engine::Rows result =
        db.Query(std::string("SELECT rowid AS plan_rowid, * FROM ") + table);
    for (const auto& row : result.rows) {
      json cells = json::object();
      for (std::size_t i = 1; i < row.size(); ++i) cells[result.columns[i]] = CellJson(row[i]);
      rows[{table, row[0].ToLong()}] = std::move(cells);
    }
  }
  return rows;
}

// The rows as the plan's changes, applied in order, leave them.
Rows ApplyPlan(Rows rows, const json& plan) {
  for (const json& assay : plan["assays"]) {
    for (const json& change : assay["changes"]) {
      const std::pair<std::string, std::int64_t> key{change["table"], change["rowid"]};
      if (change["kind"] == "deleted") {
        EXPECT_EQ(rows.erase(key), 1u) << "deleted a row that is not there: " << change;
        continue;
      }
      EXPECT_EQ(rows.count(key), change["kind"] == "updated" ? 1u : 0u) << change;
      for (const auto& [column, values] : change["columns"].items()) {
        rows[key][column] = values["new"];
      }
    }
  }
  return rows;
}

std::vector<std::string> Outcomes(const json& plan) {
  std::vector<std::string> out;
  for (const json& assay : plan["assays"]) {
    std::string outcome = assay["outcome"];
    if (!assay["reason"].is_null()) outcome += " (" + assay["reason"].get<std::string>() + ")";
    out.push_back(outcome);
  }
  return out;
}

std::set<std::string> FolderListing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class PlanTest : public ProgramTest {
 protected:
  std::string folder() const { return drive() + "/Corvista1000/Databases"; }

  void WriteAssays(const std::vector<AssaySpec>& assays, std::size_t count) {
    CatalogBuilder b;
    for (std::size_t i = 0; i < count; ++i) {
      Assay& assay = b.Add(assays[i].test, assays[i].name, assays[i].mode, assays[i].reagent_vols);
      if (assays[i].assay_max) assay.SetAssayMax(*assays[i].assay_max);
    }
    WritePackage(b);
  }

  // Runs the plan and checks that it touched nothing.
  RunResult Plan(const std::vector<std::string>& options, const std::string& source) {
    const std::set<std::string> listing = FolderListing(folder());
    std::vector<std::string> args = {"plan"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(source);
    args.push_back(database());
    const RunResult r = testing_support::Run(testing_support::BinaryFromEnv("CATALOGPACKAGE_BIN"),
                                             args, {{"SYSTEM_DRIVE", drive()}});
    ExpectDatabaseUntouched();
    EXPECT_EQ(FolderListing(folder()), listing) << "the plan left a file beside the database";
    EXPECT_EQ(r.err, "");
    return r;
  }
};

class PlanAgainstRunTest : public PlanTest, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(PlanAgainstRunTest, ChangesTheRowsTheRunChangesAndFailsWhereItFails) {
  const PlanCase& c = GetParam();
  WriteAssays(c.assays, c.assays.size());
  if (c.read_only_database) testing_support::ChmodFile(database(), 0444);
  const Rows before = ReadRows(database());
  const RunResult planned = Plan({"--json"}, package());
  const json plan = json::parse(planned.out);
  const RunResult text = Plan({}, package());
  EXPECT_EQ(Outcomes(plan), c.outcomes);
  const Rows predicted = ApplyPlan(before, plan);

  const RunResult run = RunProgram({"INSTALL"});
  EXPECT_EQ(planned.exit_status, run.exit_status);
  EXPECT_EQ(text.exit_status, run.exit_status);
  EXPECT_EQ(plan["succeeds"], run.exit_status == 0);
  if (c.failing_position == 0) {
    EXPECT_TRUE(plan["failure"].is_null());
    EXPECT_EQ(ReadRows(database()), predicted);
    return;
  }
  // The run said exactly what the plan says it would, and the plan's
  // changes before the failure are what a run of those assays alone makes.
  EXPECT_EQ(plan["failure"]["position"], c.failing_position);
  EXPECT_EQ(plan["failure"]["text"], run.err);
  EXPECT_NE(text.out.find(run.err + "summary: "), std::string::npos) << text.out;
  ExpectDatabaseUntouched();
  if (c.failing_position > 1) {  // a package holds at least one assay
    WriteAssays(c.assays, static_cast<std::size_t>(c.failing_position - 1));
    ASSERT_EQ(RunProgram({"INSTALL"}).exit_status, 0);
  }
  EXPECT_EQ(ReadRows(database()), predicted);
}

INSTANTIATE_TEST_SUITE_P(Catalogues, PlanAgainstRunTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The example workbook is planned as a workbook run, whose normal ranges
// overwrite existing ones.
TEST_F(PlanTest, WorkbookIsPlannedAsTheWorkbookRun) {
  testing_support::CopyFile(testing_support::SourceDir() + "/examples/CatalogSync.xls", workbook());
  const Rows before = ReadRows(database());
  const RunResult planned = Plan({"--json"}, workbook());
  EXPECT_EQ(planned.exit_status, 0);
  const json plan = json::parse(planned.out);
  EXPECT_EQ(plan["run"], "QVR");
  EXPECT_FALSE(testing_support::Exists(package())) << "the plan wrote a package";
  const Rows predicted = ApplyPlan(before, plan);
  ASSERT_EQ(RunProgram({"QVR"}).exit_status, 0);
  EXPECT_EQ(ReadRows(database()), predicted);
}

// A source or database the run cannot use fails the plan with the run's own
// message; a missing database is not made.
TEST_F(PlanTest, UnreadablePackageMissingOrDamagedDatabaseFailsWithTheRunsMessage) {
  const auto expect_run_failure_planned = [&] {
    const RunResult planned = Plan({}, package());
    const RunResult run = RunProgram({"INSTALL"});
    EXPECT_EQ(planned.exit_status, 1);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(planned.out, run.err +
                               "summary: 0 added, 0 updated, 0 deleted, 0 skipped; the run "
                               "would fail and leave the database as it was\n");
  };
  testing_support::WriteFile(package(), "no package at all");
  expect_run_failure_planned();

  WriteAssays({{40, "NEW", "ADD"}}, 1);
  testing_support::DamageDatabase(database(), testing_support::Damage::kTruncated);
  ASSERT_NE(testing_support::QuickCheckOutput(database()), "ok\n");
  before_ = testing_support::ReadFile(database());
  expect_run_failure_planned();

  const std::string none = folder() + "/none.mdb";
  const RunResult r = testing_support::Run(testing_support::BinaryFromEnv("CATALOGPACKAGE_BIN"),
                                           {"plan", package(), none});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out.rfind("Catalog Sync: The following file was not found: " + none + "\n", 0), 0u)
      << r.out;
  EXPECT_FALSE(testing_support::Exists(none));
}

}  // namespace
}  // namespace catalog_sync::testing
