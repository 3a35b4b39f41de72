// The real ShellPackage binary: its check against deliberately broken and
// example shells, and its plan against what the real Reshaper run then does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "platform/engine/database.h"
#include "tests/reshaper/program_fixture.h"
#include "tests/reshaper/reshaper_fixture.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace shell_package {
namespace {

using nlohmann::json;
using reshaper_test::FieldNames;
using reshaper_test::QueriesOf;
using reshaper_test::ReadScalar;
using reshaper_test::RunCase;
using ::testing::HasSubstr;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunResult;

class ShellPackageTest : public reshaper_test::ReshaperProgramTest {
 protected:
  RunResult ShellPackage(const std::vector<std::string>& args) {
    return testing_support::Run(testing_support::BinaryFromEnv("SHELLPACKAGE_BIN"), args);
  }
  json Json(const RunResult& run) {
    EXPECT_EQ(run.err, "");
    return json::parse(run.out);
  }

  std::string install_shell_ = program_ + "/InstallShell.mdb";
};

// ---- check -----------------------------------------------------------

struct BrokenShellCase {
  const char* name;
  const char* shell_sql;  // on top of the target's tables and empty shell tables
  bool against_target;
  std::vector<std::string> problems;  // "where: what" beginnings, all expected
};

const BrokenShellCase kBrokenShells[] = {
    {"EveryShellProblem",
     R"sql(
INSERT INTO StructureInfo ("Table", Name, DataType, Size, DefaultData, Required, AllowZeroLength,
                           ValidationRule) VALUES
  ('', 'Tests_A', 'TEXT', '10', NULL, NULL, NULL, NULL),
  ('Tests', NULL, 'TEXT', '10', NULL, NULL, NULL, NULL),
  ('Tests', 'Tests_Memo', 'MEMO', NULL, NULL, NULL, NULL, NULL),
  ('Tests', 'Tests_Wide', 'TEXT', '300', NULL, NULL, NULL, NULL),
  ('Tests', 'Tests_Flag', 'BOOLEAN', NULL, NULL, 'perhaps', NULL, NULL),
  ('Tests', 'Tests_Ruled', 'LONG', NULL, NULL, NULL, NULL, 'Resembles 5'),
  ('Tests', 'Tests_Count', 'LONG', NULL, 'many', NULL, NULL, NULL);
-- The structure step stops at row 1 on the shell's own tables too: a note.
INSERT INTO DefaultData VALUES ('UPDATE Tests SET Tests_Name = Tests_Name'), ('DELETE FROM Nowhere');
CREATE TABLE IF NOT EXISTS SavedQueries (Name TEXT(255) NOT NULL, SQL MEMO NOT NULL);
INSERT INTO SavedQueries VALUES ('QBroken', 'SELECT Tests_Nope FROM Tests');
)sql",
     false,
     {"StructureInfo row 1 (.Tests_A): Table is empty",
      "StructureInfo row 2 (Tests.?): Name is empty",
      "StructureInfo row 3 (Tests.Tests_Memo): type word \"MEMO\" is none of the known words",
      "StructureInfo row 4 (Tests.Tests_Wide): size \"300\" does not suit type \"TEXT\"",
      "StructureInfo row 5 (Tests.Tests_Flag): Required \"perhaps\" is no truth value",
      "StructureInfo row 6 (Tests.Tests_Ruled): validation rule \"Resembles 5\" cannot be enforced",
      "StructureInfo row 7 (Tests.Tests_Count): default value \"many\" does not fit LONG",
      "VersionInfo: has no rows", "DefaultData statement 2: does not prepare",
      "query QBroken: does not prepare against the shell's own tables"}},
    {"EveryTargetProblem",
     R"sql(
CREATE TABLE ShellOnly (X LONG);
INSERT INTO StructureInfo ("Table", Name, DataType) VALUES
  ('ShellOnly', 'X2', 'LONG'),
  ('Tests', 'TESTS_NAME', 'TEXT'),
  ('Tests', 'Tests_New', 'LONG');
INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Gone', '2.0.0');
INSERT INTO DefaultData VALUES ('UPDATE Tests SET Tests_Name = Tests_Name'), ('DELETE FROM ShellOnly');
)sql",
     true,
     {"StructureInfo row 1 (ShellOnly.X2): the target lacks the table",
      "StructureInfo row 2 (Tests.TESTS_NAME): the target has it as Tests_Name, in other letter "
      "case",
      "structure step: fails", "DefaultData statement 2: does not prepare against the target",
      "version step: fails"}},
};

class BrokenShellTest : public ShellPackageTest,
                        public ::testing::WithParamInterface<BrokenShellCase> {};

TEST_P(BrokenShellTest, CheckNamesEveryProblemInOneRun) {
  const BrokenShellCase& c = GetParam();
  MakeShell("InstallShell.mdb", c.shell_sql, {});
  std::vector<std::string> args{"check", install_shell_};
  if (c.against_target) args.push_back(target_);
  args.push_back("--json");
  const RunResult run = ShellPackage(args);
  EXPECT_EQ(run.exit_status, 1) << run.out << run.err;
  const json report = Json(run);
  std::vector<std::string> found;
  for (const auto& p : report["problems"]) {
    found.push_back(p["where"].get<std::string>() + ": " + p["what"].get<std::string>());
  }
  for (const auto& expected : c.problems) {
    EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                            [&](const std::string& f) { return f.rfind(expected, 0) == 0; }))
        << "missing: " << expected << "\nfound:\n"
        << run.out;
  }
  EXPECT_EQ(found.size(), c.problems.size()) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Shells, BrokenShellTest, ::testing::ValuesIn(kBrokenShells),
                         [](const auto& info) { return std::string(info.param.name); });

// The example shells as a release builds them, on the example analyser
// database: nothing to find, and the plan of the upgrade to 2.1.0.
TEST_F(ShellPackageTest, ExampleShellsCheckCleanAndPlanTheUpgrade) {
  UseExamples();
  ASSERT_FALSE(HasFatalFailure());
  for (const std::string shell : {"InstallShell.mdb", "ERUShell.mdb"}) {
    for (const bool with_target : {false, true}) {
      std::vector<std::string> args{"check", program_ + "/" + shell};
      if (with_target) args.push_back(target_);
      const RunResult run = ShellPackage(args);
      EXPECT_EQ(run.exit_status, 0) << shell << "\n" << run.out << run.err;
      EXPECT_THAT(run.out, HasSubstr("\n0 problems\n"));
    }
  }
  const RunResult plan =
      ShellPackage({"plan", "INSTALL,QUERY,STRUCTURE,VERSION", program_, target_, "--json"});
  ASSERT_EQ(plan.exit_status, 0) << plan.out << plan.err;
  const json report = Json(plan);
  EXPECT_EQ(report["version"]["to"], "2.1.0");
  EXPECT_EQ(report["fields"].size(), 9u);
  EXPECT_EQ(report["queries"].size(), 4u);  // the run itself: Reshaper's program tests
}

// ---- plan against the real run ------------------------------------------

class PlanTest : public ShellPackageTest, public ::testing::WithParamInterface<RunCase> {
 protected:
  // Every file of the database and program folders, and its bytes.
  std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> files;
    for (const std::string& folder : {databases_, program_}) {
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files[entry.path()] = ReadFile(entry.path());
      }
    }
    return files;
  }
  std::vector<std::string> Tables() { return {"Tests", "SoftwareVersion"}; }
};

// The fields of the listed tables after the plan's field changes.
std::vector<std::string> FieldsAfterPlan(std::vector<std::string> fields, const json& report,
                                         const std::string& table) {
  for (const auto& f : report["fields"]) {
    if (f["table"] != table) continue;
    const std::string name = f["name"];
    if (f["change"] == "added") {
      fields.push_back(name);
    } else {
      fields.erase(std::find(fields.begin(), fields.end(), name));
    }
  }
  return fields;
}

bool SameValue(const platform::Value& value, const json& expected) {
  if (expected.is_null()) return value.IsNull();
  if (expected.is_string()) return value.ToText() == expected.get<std::string>();
  return value.ToDouble() == expected.get<double>();
}

// Each run of Reshaper's program tests that a plan can foresee.
TEST_P(PlanTest, PlanAgreesWithTheRealRunAndTouchesNothing) {
  const RunCase& c = GetParam();
  Arrange(c.arrange);
  std::map<std::string, std::vector<std::string>> fields_before;
  for (const auto& table : Tables()) fields_before[table] = FieldNames(target_, table);
  std::vector<std::string> queries_before;
  for (const auto& q : QueriesOf(target_)) queries_before.push_back(q.name);

  std::string command_line;
  for (const auto& arg : c.args) command_line += (command_line.empty() ? "" : " ") + arg;
  const auto before = Snapshot();
  const RunResult plan = ShellPackage({"plan", command_line, program_, target_, "--json"});
  EXPECT_TRUE(Snapshot() == before) << "the plan changed a file or left one behind";
  const json report = Json(plan);

  const RunResult run = Reshaper(c.args);
  ASSERT_EQ(run.exit_status, c.status) << run.err;
  const bool run_failed = run.exit_status != 0;
  ASSERT_EQ(plan.exit_status, run_failed ? 1 : 0) << plan.out << run.err;
  if (run_failed) {
    // The same message and the same facts, in the same order.
    std::string expected = "Reshaper: " + report["failure"]["message"].get<std::string>() + "\n";
    for (const auto& d : report["failure"]["details"]) {
      expected +=
          "detail: " + d["what"].get<std::string>() + ": " + d["value"].get<std::string>() + "\n";
    }
    EXPECT_THAT(run.err, HasSubstr(expected));
  } else {
    // The saved queries the run names as left without a view.
    std::string details;
    for (const auto& name : report["queries_without_view"]) {
      details += "detail: saved query without view: " + name.get<std::string>() + "\n";
    }
    EXPECT_EQ(run.err, details);
    struct stat st {};
    ASSERT_EQ(::stat(target_.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, report["size"]["after_compaction"].get<std::int64_t>());
  }
  for (const auto& table : Tables()) {
    EXPECT_EQ(FieldNames(target_, table), FieldsAfterPlan(fields_before[table], report, table))
        << table;
  }
  std::vector<std::string> queries_expected = queries_before;
  for (const auto& q : report["queries"]) {
    const std::string name = q["name"];
    if (q["change"] == "added") queries_expected.push_back(name);
    if (q["change"] == "deleted")
      queries_expected.erase(std::find(queries_expected.begin(), queries_expected.end(), name));
  }
  // A view that the run keeps as its text becomes a saved query.
  for (const auto& name : report["queries_without_view"]) {
    if (std::find(queries_expected.begin(), queries_expected.end(), name) == queries_expected.end())
      queries_expected.push_back(name);
  }
  std::vector<std::string> queries_after;
  for (const auto& q : QueriesOf(target_)) queries_after.push_back(q.name);
  std::sort(queries_after.begin(), queries_after.end());
  std::sort(queries_expected.begin(), queries_expected.end());
  EXPECT_EQ(queries_after, queries_expected);
  if (report["version"].is_null()) {
    EXPECT_EQ(Version(), "1.0.0");
  } else {
    const std::string sql = "SELECT \"" + report["version"]["field"].get<std::string>() +
                            "\" FROM \"" + report["version"]["table"].get<std::string>() + "\"";
    EXPECT_TRUE(SameValue(ReadScalar(target_, sql), report["version"]["to"])) << sql;
  }
  for (const auto& statement : report["default_data"]) {
    for (const auto& change : statement["changes"]) {
      if (change["kind"] == "deleted") continue;
      for (std::size_t i = 0; i < change["columns"].size(); ++i) {
        // The version step, which runs after the default data, has the last word there.
        if (!report["version"].is_null() && change["columns"][i] == report["version"]["field"]) {
          continue;
        }
        const std::string sql =
            "SELECT \"" + change["columns"][i].get<std::string>() + "\" FROM \"" +
            change["table"].get<std::string>() +
            "\" WHERE rowid = " + std::to_string(change["rowid"].get<std::int64_t>());
        EXPECT_TRUE(SameValue(ReadScalar(target_, sql), change["new"][i])) << sql;
      }
    }
  }
}

// The others depend on files that a plan does not read (the marker, lock
// file, scratch file) or on a missing target.
std::vector<RunCase> PlannableRuns() {
  std::vector<RunCase> runs;
  for (const auto& c : reshaper_test::kRunCases) {
    if (c.plan) runs.push_back(c);
  }
  return runs;
}

INSTANTIATE_TEST_SUITE_P(Runs, PlanTest, ::testing::ValuesIn(PlannableRuns()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShellPackageTest, DefaultDataRowsAreCountedPerStatement) {
  const RunResult plan = ShellPackage({"plan", "INSTALL,STRUCTURE", program_, target_, "--json"});
  ASSERT_EQ(plan.exit_status, 0) << plan.out << plan.err;
  const json report = Json(plan);
  ASSERT_EQ(report["default_data"].size(), 3u);
  EXPECT_EQ(report["default_data"][0]["rows_changed"], 1);  // the new test 3
  EXPECT_EQ(report["default_data"][1]["rows_changed"], 0);  // key 1 exists: skipped
  EXPECT_EQ(report["default_data"][2]["rows_changed"], 1);
}

TEST_F(ShellPackageTest, WrongUsageIsStatusTwo) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"check"},
                                             {"plan", "INSTALL,QUERY"},
                                             {"bogus"},
                                             {"check", install_shell_, "--mode", "SIDEWAYS"}}) {
    EXPECT_EQ(ShellPackage(args).exit_status, 2);
  }
}

// GNU's standard options: the answer on standard output, status 0.
TEST_F(ShellPackageTest, HelpAndVersionAnswerOnStandardOutput) {
  const char* project_version = std::getenv("PROJECT_VERSION");
  ASSERT_NE(project_version, nullptr);
  const std::string version =
      "ShellPackage (corvista1000-tools) " + std::string(project_version) + "\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--help"}, "usage: ShellPackage <command> <arguments>\n"},
      {{"--help", "check"}, "usage: ShellPackage <command> <arguments>\n"},
      {{"--version"}, version}};
  for (const auto& [args, first_line] : cases) {
    const RunResult run = ShellPackage(args);
    EXPECT_EQ(run.exit_status, 0) << args[0];
    EXPECT_EQ(run.err, "") << args[0];
    EXPECT_EQ(run.out.substr(0, first_line.size()), first_line) << run.out;
  }
  EXPECT_NE(ShellPackage({"--help"}).out.find("ShellPackage plan"), std::string::npos);
}

}  // namespace
}  // namespace shell_package
