// The real Reshaper binary, copied into a temporary program folder with its
// shell databases, run against a temporary system drive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/engine/database.h"
#include "tests/reshaper/program_fixture.h"
#include "tests/reshaper/reshaper_fixture.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace reshaper {
namespace {

using platform::engine::Database;
using reshaper_test::FieldNames;
using reshaper_test::kStart;
using reshaper_test::QueriesOf;
using reshaper_test::ReadScalar;
using reshaper_test::ReshaperProgramTest;
using reshaper_test::RunCase;
using ::testing::HasSubstr;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::WriteFile;

class ReshaperRunTest : public ReshaperProgramTest,
                        public ::testing::WithParamInterface<RunCase> {};

TEST_P(ReshaperRunTest, EndsWithItsStatusMessageLogAndTarget) {
  const RunCase& c = GetParam();
  Arrange(c.arrange);
  const ino_t before = Exists(target_) ? TargetInode() : 0;
  const RunResult run = Reshaper(c.args);
  user_.reset();
  EXPECT_EQ(run.exit_status, c.status);
  EXPECT_EQ(run.out, "");
  const std::string err =
      reshaper_test::Expand(std::string(c.status ? "Reshaper: " : "") + c.err, databases_);
  if (c.status == 0) {
    EXPECT_EQ(run.err, err);
  } else {
    EXPECT_EQ(run.err.substr(0, err.size()), err) << run.err;
  }
  std::vector<std::string> log{kStart};
  if (c.status == 1) log.push_back(err.substr(10, err.find('\n') - 10));
  ExpectLog(log);
  EXPECT_EQ(State(before), c.state);
}

INSTANTIATE_TEST_SUITE_P(Runs, ReshaperRunTest, ::testing::ValuesIn(reshaper_test::kRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReshaperProgramTest, InstallLogKeepsItsEarlierLines) {
  const std::string earlier = "Reshaper program start 2020-01-01 00:00:00\r\n";
  WriteFile(log_, earlier);
  ::unlink(target_.c_str());
  Reshaper({"INSTALL,QUERY"});
  ExpectLog({kStart, kStart, "Corvista1k.mdb is Missing. Reshaper Aborted"});
  EXPECT_EQ(ReadFile(log_).substr(0, earlier.size()), earlier);
}

TEST_F(ReshaperProgramTest, MissingLogFolderOnlyMeansNoLog) {
  ::rmdir(logs_.c_str());
  const RunResult run = Reshaper({"INSTALL,QUERY"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(Exists(logs_));
  EXPECT_TRUE(Exists(marker_));
}

// What others may plant in the run's folders: a symbolic or hard link at the
// shell copy's temporary name or a dangling link at the marker's is not
// written through (the file it names keeps its bytes, or is not made), and a
// FIFO or a symbolic link as the log is skipped as a log that cannot be
// opened, without waiting for a reader.
TEST_F(ReshaperProgramTest, PlantedFilesAreNeitherWrittenThroughNorWaitedOn) {
  const std::string outside = dir_.Sub("outside.txt");
  const std::string nowhere = dir_.Sub("nowhere.txt");
  const std::string temporary = databases_ + "/.InstallShell.mdb.tmp";
  const struct {
    const char* what;
    std::function<int()> plant;
    bool logged;
  } cases[] = {
      {"symbolic link", [&] { return ::symlink(outside.c_str(), temporary.c_str()); }, true},
      {"hard link", [&] { return ::link(outside.c_str(), temporary.c_str()); }, true},
      {"FIFO as log", [&] { return ::mkfifo(log_.c_str(), 0644); }, false},
      {"dangling link as marker", [&] { return ::symlink(nowhere.c_str(), marker_.c_str()); },
       true},
      // The log is no file the run resolves on purpose: lines appended through
      // a link would land in whatever file it names (root runs the program).
      {"symbolic link as log", [&] { return ::symlink(outside.c_str(), log_.c_str()); }, false},
      {"dangling link as log", [&] { return ::symlink(nowhere.c_str(), log_.c_str()); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ::unlink(temporary.c_str());
    ::unlink(log_.c_str());
    ::unlink(marker_.c_str());
    WriteFile(outside, "not the program's");
    ASSERT_EQ(c.plant(), 0);
    const RunResult run = Reshaper({"INSTALL,QUERY"});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(ReadFile(outside), "not the program's");
    EXPECT_FALSE(Exists(temporary));
    EXPECT_FALSE(Exists(install_copy_));
    EXPECT_FALSE(Exists(nowhere));
    EXPECT_EQ(std::filesystem::symlink_status(marker_).type(), std::filesystem::file_type::regular);
    if (c.logged) ExpectLog({kStart});
  }
}

// The example shells on the example analyser database: up to 2.1.0 and back.
TEST_F(ReshaperProgramTest, ExampleShellsUpgradeAndDowngradeTheAnalyserDatabase) {
  UseExamples();
  ASSERT_FALSE(HasFatalFailure());
  const std::size_t fields_before = FieldNames(target_, "Tests").size();
  RunResult run = Reshaper({"INSTALL,QUERY,STRUCTURE,VERSION"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Version(), "2.1.0");
  EXPECT_EQ(FieldNames(target_, "Tests").size(), fields_before + 4);
  EXPECT_EQ(
      ReadScalar(target_, "SELECT count(*) FROM TestVolumes WHERE TV_DeadVolume <> 25").ToLong(),
      0);
  EXPECT_EQ(QueriesOf(target_).size(), 4u);
  EXPECT_GT(ReadScalar(target_, "SELECT count(*) FROM qryActiveTests").ToLong(), 0);

  run = Reshaper({"ERU,QUERY,STRUCTURE,VERSION"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Version(), "2.0.0");
  EXPECT_EQ(FieldNames(target_, "Tests").size(), fields_before);
  EXPECT_EQ(FieldNames(target_, "TestVolumes").size(), 10u);
}

// --- Hostile shells ------------------------------------------------------------

// Every schema object's SQL as the sqlite3 tool lists it, and each table's
// row count.
std::string SchemaAndCounts(const std::string& path) {
  Database db = Database::Open(path);
  std::string snapshot;
  for (const auto& row :
       db.Query("SELECT type, name, quote(sql) FROM sqlite_schema ORDER BY name").rows) {
    snapshot += row[0].ToText() + " " + row[1].ToText() + " " + row[2].ToText() + "\n";
    if (row[0].ToText() == "table") {
      snapshot += ReadScalar(db, "SELECT count(*) FROM " +
                                     platform::engine::QuoteIdentifier(row[1].ToText()))
                      .ToText() +
                  "\n";
    }
  }
  return snapshot;
}

const std::vector<std::string> kHostileFieldNames = {
    "x\"; DROP TABLE Tests; --",
    "]; DELETE FROM Tests; [",
    "y'); DELETE FROM Tests; --",
    "z\" TEXT, \"w",
    "SELECT",
};

// Field names and saved-query names of a shell, crafted to break out of the
// SQL that the upgrade builds: the fields and queries are made under exactly
// those names and nothing else in the target changes.
TEST_F(ReshaperProgramTest, HostileFieldAndQueryNamesAreCreatedExactly) {
  std::string structure = "INSERT INTO StructureInfo (\"Table\", Name, DataType, Size) VALUES ";
  std::vector<platform::engine::SavedQuery> queries;
  for (std::size_t i = 0; i < kHostileFieldNames.size(); ++i) {
    const std::string& name = kHostileFieldNames[i];
    std::string quoted = "'";
    for (char c : name) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    structure += std::string(i ? ", " : "") + "('Tests', " + quoted + "', 'TEXT', '20')";
    queries.push_back({name, "SELECT Tests_ID FROM Tests"});
  }
  MakeShell(
      "InstallShell.mdb",
      structure + "; INSERT INTO DefaultData VALUES ('UPDATE Tests SET Tests_Name = Tests_Name');",
      queries);
  const std::string before = SchemaAndCounts(target_);
  const RunResult run = Reshaper({"INSTALL,QUERY,STRUCTURE"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  std::vector<std::string> expected_fields = {"Tests_ID", "Tests_Name"};
  expected_fields.insert(expected_fields.end(), kHostileFieldNames.begin(),
                         kHostileFieldNames.end());
  EXPECT_EQ(FieldNames(target_, "Tests"), expected_fields);
  const auto created = QueriesOf(target_);
  ASSERT_EQ(created.size(), kHostileFieldNames.size());
  for (std::size_t i = 0; i < created.size(); ++i)
    EXPECT_EQ(created[i].name, kHostileFieldNames[i]);
  EXPECT_EQ(TestCount(), 2);
  EXPECT_EQ(ReadScalar(target_, "SELECT count(*) FROM \"]; DELETE FROM Tests; [\"").ToLong(), 2);
  // Besides the new columns, their property table, the query table and the
  // views, the schema is as it was.
  Database db = Database::Open(target_);
  for (const std::string& name : kHostileFieldNames) {
    platform::engine::DeleteSavedQuery(db, name);
    platform::engine::DeleteField(db, "Tests", name);
  }
  db.Exec("DROP TABLE SavedQueries; DROP TABLE SysFieldProperties");
  db.Close();
  EXPECT_EQ(SchemaAndCounts(target_), before);
}

// A shell whose field properties are crafted to break out of the triggers
// that enforce them: the upgrade stops at that row with the engine's error,
// and the target is the file from before the run.
TEST_F(ReshaperProgramTest, HostileValidationRulesStopTheUpgradeAndChangeNothing) {
  const std::vector<std::string> rules = {
      "1) ; DROP TABLE Tests; --",
      ">0 OR 1=1) BEGIN DELETE FROM Tests; END; --",
      std::string(20000, '(') + ">0" + std::string(20000, ')'),
  };
  for (const std::string& rule : rules) {
    MakeShell("InstallShell.mdb",
              "INSERT INTO StructureInfo (\"Table\", Name, DataType, ValidationRule) VALUES "
              "('Tests', 'Tests_Level', 'LONG', '" +
                  rule + "');",
              {});
    const std::string before = ReadFile(target_);
    const RunResult run = Reshaper({"INSTALL,STRUCTURE"});
    EXPECT_EQ(run.exit_status, 1) << rule.substr(0, 60);
    EXPECT_THAT(run.err, HasSubstr("3006")) << run.err.substr(0, 500);
    EXPECT_TRUE(ReadFile(target_) == before) << rule.substr(0, 60);
    EXPECT_EQ(TestCount(), 2);
  }
}

}  // namespace
}  // namespace reshaper
