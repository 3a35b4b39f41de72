// The real ShellPackage binary: its check of broken and example shells, and its own command
// line. Its plan is held against the real runs in Reshaper's rows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/history/digest.h"
#include "tests/reshaper/shells.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace shell_package {
namespace {

using namespace testing_support;

RunResult ShellPackage(const std::vector<std::string>& args) {
  return Run(BinaryFromEnv("SHELLPACKAGE_BIN"), args);
}

// One check names every problem of a shell, alone or against a target, in
// the order found; each problem's "where: what" begins as a line says.
TEST(ShellPackage, CheckNamesEveryProblemInOneRun) {
  // clang-format off
  const struct {
    const char* shell_sql;  // on top of the target's tables and empty shell tables
    bool against_target;
    std::vector<std::string> problems;
  } cases[] = {
      {R"sql(INSERT INTO StructureInfo ("Table", Name, DataType, Size, DefaultData, Required,
                                        ValidationRule) VALUES
  ('', 'Tests_A', 'TEXT', '10', NULL, NULL, NULL), ('Tests', NULL, 'TEXT', '10', NULL, NULL, NULL),
  ('Tests', 'Tests_Memo', 'MEMO', NULL, NULL, NULL, NULL),
  ('Tests', 'Tests_Wide', 'TEXT', '300', NULL, NULL, NULL),
  ('Tests', 'Tests_Flag', 'BOOLEAN', NULL, NULL, 'perhaps', NULL),
  ('Tests', 'Tests_Ruled', 'LONG', NULL, NULL, NULL, 'Resembles 5'),
  ('Tests', 'Tests_Count', 'LONG', NULL, 'many', NULL, NULL);
-- The structure step stops at row 1 on the shell's own tables too: a note.
INSERT INTO DefaultData VALUES ('UPDATE Tests SET Tests_Name = Tests_Name'),
  ('DELETE FROM Nowhere');
CREATE TABLE IF NOT EXISTS SavedQueries (Name TEXT(255) NOT NULL, SQL MEMO NOT NULL);
INSERT INTO SavedQueries VALUES ('QBroken', 'SELECT Tests_Nope FROM Tests');)sql", false,
       {"StructureInfo row 1 (.Tests_A): Table is empty",
        "StructureInfo row 2 (Tests.?): Name is empty",
        "StructureInfo row 3 (Tests.Tests_Memo): type word \"MEMO\" is none of the known words",
        "StructureInfo row 4 (Tests.Tests_Wide): size \"300\" does not suit type \"TEXT\"",
        "StructureInfo row 5 (Tests.Tests_Flag): Required \"perhaps\" is no truth value",
        "StructureInfo row 6 (Tests.Tests_Ruled): validation rule \"Resembles 5\" cannot be "
        "enforced",
        "StructureInfo row 7 (Tests.Tests_Count): default value \"many\" does not fit LONG",
        "VersionInfo: has no rows", "DefaultData statement 2: does not prepare",
        "query QBroken: does not prepare against the shell's own tables"}},
      {R"sql(CREATE TABLE ShellOnly (X LONG);
INSERT INTO StructureInfo ("Table", Name, DataType) VALUES
  ('ShellOnly', 'X2', 'LONG'), ('Tests', 'TESTS_NAME', 'TEXT'), ('Tests', 'Tests_New', 'LONG');
INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Gone', '2.0.0');
INSERT INTO DefaultData VALUES ('UPDATE Tests SET Tests_Name = Tests_Name'),
  ('DELETE FROM ShellOnly');)sql",
       true,
       {"StructureInfo row 1 (ShellOnly.X2): the target lacks the table",
        "StructureInfo row 2 (Tests.TESTS_NAME): the target has it as Tests_Name, in other "
        "letter case",
        "structure step: fails", "DefaultData statement 2: does not prepare against the target",
        "version step: fails"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problems[0]);
    TempDir dir;
    reshaper_test::MakeShell(dir.Sub("InstallShell.mdb"), c.shell_sql);
    reshaper_test::MakeDatabase(dir.Sub("Corvista1k.mdb"), reshaper_test::kTargetTables);
    std::vector<std::string> args{"check", dir.Sub("InstallShell.mdb"), "--json"};
    if (c.against_target) args.insert(args.begin() + 2, dir.Sub("Corvista1k.mdb"));
    const RunResult run = ShellPackage(args);
    EXPECT_EQ(run.exit_status, 1) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> found;
    const nlohmann::json report = nlohmann::json::parse(run.out);
    for (const auto& p : report["problems"]) {
      found.push_back(p["where"].get<std::string>() + ": " + p["what"].get<std::string>());
      const std::size_t i = found.size() - 1;
      if (i < c.problems.size() && found[i].rfind(c.problems[i], 0) == 0) found[i] = c.problems[i];
    }
    EXPECT_EQ(found, c.problems);
  }
}

// The example shells as a release builds them find nothing, alone or on the
// example analyser database. Their plans name the shell by size and SHA-256
// and, with --html, propose every change of the JSON plan, per step.
TEST(ShellPackage, ExampleShellsCheckCleanAndPlanForSigning) {
  TempDir dir;
  auto build = [&](const std::string& db, const std::vector<std::string>& scripts) {
    for (const std::string& s : scripts)
      EXPECT_EQ(Sqlite3Script(dir.Sub(db), SourceDir() + "/examples/" + s).exit_status, 0) << s;
    return dir.Sub(db);
  };
  const std::string target =
      build("Corvista1k.mdb", {"analyser-schema.sql", "analyser-sample-data.sql"});
  for (const std::string shell : {"InstallShell", "ERUShell"}) {
    const std::string path = build(shell + ".mdb", {"analyser-schema.sql", shell + ".sql"});
    for (const auto& args : {std::vector<std::string>{"check", path}, {"check", path, target}}) {
      const RunResult run = ShellPackage(args);
      EXPECT_EQ(run.exit_status, 0) << shell << "\n" << run.out << run.err;
      EXPECT_NE(run.out.find("\n0 problems\n"), std::string::npos) << run.out;
    }
    const std::string line = (shell == "ERUShell" ? "ERU" : "INSTALL") + std::string(",QUERY");
    const std::string bytes = ReadFile(path), sha = platform::history::Sha256Hex(bytes);
    const RunResult text = ShellPackage({"plan", line + ",STRUCTURE,VERSION", dir.path(), target});
    EXPECT_NE(text.out.find("\nshell: " + path + ", " + std::to_string(bytes.size()) +
                            " bytes, SHA-256 " + sha + "\n"),
              std::string::npos)
        << text.out;
    const RunResult run = ShellPackage({"plan", line + ",STRUCTURE,VERSION", dir.path(), target,
                                        "--json", "--html", dir.Sub("plan.html")});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    const nlohmann::json plan = nlohmann::json::parse(run.out);
    EXPECT_EQ(plan["shell_size"], bytes.size());
    EXPECT_EQ(plan["shell_sha256"], sha);
    const auto& version = plan["version"];
    std::vector<std::string> facts = {
        "<h1>Proposed change: Reshaper</h1>", line, sha, "<h3>COMPACTION (1 change)</h3>",
        "<td>" + version["table"].get<std::string>() + "." + version["field"].get<std::string>()};
    for (const auto& q : plan["queries"]) facts.push_back("<td>" + q["name"].get<std::string>());
    for (const auto& f : plan["fields"]) {
      facts.push_back("<td>" + f["table"].get<std::string>() + "." + f["name"].get<std::string>());
    }
    std::size_t rows = 0;
    for (const auto& statement : plan["default_data"]) rows += statement["changes"].size();
    if (rows) facts.push_back("<h3>DEFAULT DATA (" + std::to_string(rows) + " changes)</h3>");
    const std::string page = ReadFile(dir.Sub("plan.html"));
    for (const std::string& fact : facts) EXPECT_NE(page.find(fact), std::string::npos) << fact;
  }
}

// GNU's standard options answer on standard output with status 0; a command
// line the tool refuses gets the usage on standard error and status 2.
TEST(ShellPackage, AnswersItsOwnCommandLine) {
  const std::string usage =
      "usage: ShellPackage <command> <arguments>\n"
      "  ShellPackage check <shell> [<database>] [--mode INSTALL|ERU] [--json]\n"
      "  ShellPackage plan \"<command line>\" <shell folder> <database> [--json] [--html <file>]\n"
      "  ShellPackage --help | --version\n";
  const std::string version = "ShellPackage (corvista1000-tools) " +
                              std::string(std::getenv("PROJECT_VERSION") ?: "?") + "\n";
  // clang-format off
  const struct { std::vector<std::string> args; int status; std::string out, err; } cases[] = {
      {{}, 2, "", usage}, {{"check"}, 2, "", usage}, {{"plan", "INSTALL,QUERY"}, 2, "", usage},
      {{"bogus"}, 2, "", usage}, {{"check", "Shell.mdb", "--mode", "SIDEWAYS"}, 2, "", usage},
      {{"plan", "INSTALL", "shells", "Corvista1k.mdb", "--html"}, 2, "", usage},
      {{"--help"}, 0, usage, ""}, {{"--version"}, 0, version, ""}};
  // clang-format on
  for (const auto& c : cases) {
    const RunResult run = ShellPackage(c.args);
    EXPECT_EQ(std::to_string(run.exit_status) + run.out + "|" + run.err,
              std::to_string(c.status) + c.out + "|" + c.err);
  }
}

}  // namespace
}  // namespace shell_package
