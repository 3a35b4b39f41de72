// The real Reshaper binary, copied into a temporary program folder with its
// shell databases, run against a temporary system drive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/engine/database.h"
#include "tests/reshaper/program_fixture.h"
#include "tests/reshaper/reshaper_fixture.h"
#include "tests/support/test_support.h"

namespace reshaper {
namespace {

using platform::engine::Database;
using reshaper_test::CreateDatabase;
using reshaper_test::FieldNames;
using reshaper_test::kStart;
using reshaper_test::QueriesOf;
using reshaper_test::ReadScalar;
using reshaper_test::ReshaperProgramTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing_support::ChmodFile;
using testing_support::Exists;
using testing_support::MakeFolders;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::WriteFile;

using reshaper_test::kEruQueries;
using reshaper_test::kEruShell;
using reshaper_test::kInstallQueries;
using reshaper_test::kInstallShell;

const char* const kParameterError = "Reshaper: Parameter Error. Reshaper Aborted\n";

TEST_F(ReshaperProgramTest, FullInstallRunUpgradesCompactsAndWritesTheMarker) {
  const ino_t before = TargetInode();
  const RunResult run = Reshaper({"INSTALL,QUERY,STRUCTURE,VERSION"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(Exists(marker_));
  EXPECT_EQ(ReadFile(marker_), "");
  EXPECT_FALSE(Exists(install_copy_));
  EXPECT_FALSE(Exists(databases_ + "/Temp.mdb"));
  EXPECT_FALSE(Exists(databases_ + "/Corvista1k.ldb"));
  EXPECT_NE(TargetInode(), before);
  ExpectLog({kStart});
  EXPECT_THAT(FieldNames(target_, "Tests"),
              ElementsAre("Tests_ID", "Tests_Name", "Tests_Reflex", "Tests_Note"));
  EXPECT_EQ(TestCount(), 3);
  EXPECT_EQ(ReadScalar(target_, "SELECT Tests_Name FROM Tests WHERE Tests_ID = 1").ToText(), "GLU");
  EXPECT_EQ(ReadScalar(target_, "SELECT Version_Build FROM SoftwareVersion").ToLong(), 7);
  EXPECT_EQ(Version(), "2.0.0");
  ASSERT_EQ(QueriesOf(target_).size(), 1u);
  EXPECT_EQ(QueriesOf(target_)[0].name, "QTests");
}

TEST_F(ReshaperProgramTest, ModeWordAloneIsAParameterError) {
  const RunResult run = Reshaper({"INSTALL"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err.substr(0, std::string(kParameterError).size()), kParameterError);
  EXPECT_THAT(run.err, HasSubstr("detail: usage: "));
  ExpectLog({kStart});
  EXPECT_FALSE(Exists(install_copy_));
  EXPECT_FALSE(Exists(marker_));
}

TEST_F(ReshaperProgramTest, StepWordsWithoutModeWordCopyNothing) {
  const RunResult run = Reshaper({"QUERY,VERSION"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_THAT(run.err, HasSubstr(kParameterError));
  EXPECT_THAT(run.err, HasSubstr("detail: cause: no mode word INSTALL or ERU"));
  ExpectLog({kStart});
  EXPECT_FALSE(Exists(install_copy_));
  EXPECT_FALSE(Exists(eru_copy_));
  EXPECT_EQ(Version(), "1.0.0");
}

TEST_F(ReshaperProgramTest, WordsIgnoreCaseAndSurroundingSpaces) {
  const ino_t before = TargetInode();
  const RunResult run = Reshaper({" install , structure "});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_THAT(FieldNames(target_, "Tests"),
              ElementsAre("Tests_ID", "Tests_Name", "Tests_Reflex", "Tests_Note"));
  EXPECT_EQ(TestCount(), 3);  // default data ran
  EXPECT_EQ(Version(), "1.0.0");
  EXPECT_TRUE(QueriesOf(target_).empty());
  EXPECT_NE(TargetInode(), before);
  EXPECT_TRUE(Exists(marker_));
}

TEST_F(ReshaperProgramTest, EruRemovesFieldsAndRunsNoDefaultData) {
  const RunResult run = Reshaper({"ERU,STRUCTURE"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_THAT(FieldNames(target_, "Tests"), ElementsAre("Tests_ID"));
  EXPECT_EQ(TestCount(), 2);
  EXPECT_FALSE(Exists(eru_copy_));
  EXPECT_TRUE(Exists(marker_));
}

TEST_F(ReshaperProgramTest, StructureRunsBeforeVersionWhateverTheWordOrder) {
  // The version lands in a field that the structure step adds, after the
  // default data has written it.
  MakeShell("InstallShell.mdb",
            std::string(kInstallShell) +
                "UPDATE VersionInfo SET FieldName = 'Version_Build', VersionNumber = '42';",
            {});
  const RunResult run = Reshaper({"VERSION,STRUCTURE,INSTALL"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadScalar(target_, "SELECT Version_Build FROM SoftwareVersion").ToLong(), 42);
}

TEST_F(ReshaperProgramTest, TrailingCommaIsAParameterErrorAndTheCopyIsDeleted) {
  const RunResult run = Reshaper({"INSTALL,STRUCTURE,"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_THAT(run.err, HasSubstr(kParameterError));
  EXPECT_THAT(run.err, HasSubstr("detail: word: \"\""));
  EXPECT_FALSE(Exists(install_copy_));
  EXPECT_EQ(FieldNames(target_, "Tests").size(), 2u);
  ExpectLog({kStart});
}

TEST_F(ReshaperProgramTest, LastModeWordChoosesTheShell) {
  const RunResult run = Reshaper({"INSTALL,ERU,QUERY"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  ASSERT_EQ(QueriesOf(target_).size(), 1u);
  EXPECT_EQ(QueriesOf(target_)[0].name, "QEru");
  EXPECT_FALSE(Exists(eru_copy_));
  EXPECT_TRUE(Exists(install_copy_));  // made for the first word, never deleted
}

TEST_F(ReshaperProgramTest, QuotedArgumentKeepsItsMarksAndMatchesNoKeyword) {
  const RunResult run = Reshaper({"\"INSTALL,QUERY\""});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_THAT(run.err, HasSubstr(kParameterError));
  EXPECT_THAT(run.err, HasSubstr("detail: word: \"\"INSTALL\""));
  EXPECT_FALSE(Exists(install_copy_));
}

TEST_F(ReshaperProgramTest, ArgumentsAreJoinedWithOneBlank) {
  const RunResult run = Reshaper({"INSTALL,", "QUERY"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(QueriesOf(target_).size(), 1u);
}

TEST_F(ReshaperProgramTest, MissingTargetIsLoggedAndTheCommandLineNotRead) {
  ::unlink(target_.c_str());
  const RunResult run = Reshaper({"INSTALL,QUERY"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.err, HasSubstr("Reshaper: Corvista1k.mdb is Missing. Reshaper Aborted\n"));
  EXPECT_THAT(run.err, HasSubstr("detail: file: " + target_));
  ExpectLog({kStart, "Corvista1k.mdb is Missing. Reshaper Aborted"});
  EXPECT_FALSE(Exists(install_copy_));
  EXPECT_FALSE(Exists(marker_));
}

TEST_F(ReshaperProgramTest, LockFileOfALiveUserStopsTheRunBeforeAnyOpen) {
  Database user = Database::Open(target_);  // holds the lock file
  ASSERT_TRUE(Exists(databases_ + "/Corvista1k.ldb"));
  const RunResult run = Reshaper({"INSTALL,STRUCTURE"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.err,
              HasSubstr("Reshaper: The Corvista1k.mdb Database is locked. Reshaper Aborted\n"));
  ExpectLog({kStart, "The Corvista1k.mdb Database is locked. Reshaper Aborted"});
  EXPECT_FALSE(Exists(install_copy_));
  EXPECT_EQ(FieldNames(user, "Tests").size(), 2u);
  user.Close();
  EXPECT_FALSE(Exists(marker_));
}

TEST_F(ReshaperProgramTest, StaleLockFileIsRemovedAndTheRunGoesOn) {
  WriteFile(databases_ + "/Corvista1k.ldb", "");  // left by a process that died
  const RunResult run = Reshaper({"INSTALL,VERSION"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "detail: stale lock file removed: " + databases_ + "/Corvista1k.ldb\n");
  EXPECT_FALSE(Exists(databases_ + "/Corvista1k.ldb"));
  EXPECT_EQ(Version(), "2.0.0");
  EXPECT_TRUE(Exists(marker_));
}

TEST_F(ReshaperProgramTest, MarkerOfAnEarlierRunIsRemovedBeforeAnyCheck) {
  WriteFile(marker_, "");
  ::unlink(target_.c_str());
  EXPECT_EQ(Reshaper({"INSTALL,QUERY"}).exit_status, 1);
  EXPECT_FALSE(Exists(marker_));
}

TEST_F(ReshaperProgramTest, ReadOnlyMarkerStaysAndIsAnUnexpectedError) {
  WriteFile(marker_, "");
  ChmodFile(marker_, 0444);
  const RunResult run = Reshaper({"INSTALL,QUERY"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.err,
              HasSubstr("Reshaper: An Unexpected Error Occured While Updating the "
                        "Database. Reshaper Aborted\ndetail: error: 70 Permission denied"));
  ExpectLog({kStart, "An Unexpected Error Occured While Updating the Database. Reshaper Aborted"});
  EXPECT_TRUE(Exists(marker_));
  EXPECT_FALSE(Exists(install_copy_));
}

TEST_F(ReshaperProgramTest, FailingStructureRowKeepsEarlierFieldsAndStopsTheRun) {
  MakeShell("InstallShell.mdb", std::string(kInstallShell) + R"sql(
    INSERT INTO StructureInfo ("Table", Name, DataType) VALUES ('Tests', 'Tests_Comment', 'MEMO');
  )sql",
            kInstallQueries);
  const ino_t before = TargetInode();
  const RunResult run = Reshaper({"INSTALL,QUERY,STRUCTURE,VERSION"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.err, HasSubstr("Reshaper: Unable to Update the Database Structure. Reshaper "
                                 "Aborted\ndetail: step: structure update\n"
                                 "detail: row: 4: table \"Tests\", name \"Tests_Comment\", type "
                                 "\"MEMO\"\n"));
  ExpectLog({kStart, "Unable to Update the Database Structure. Reshaper Aborted"});
  EXPECT_THAT(FieldNames(target_, "Tests"),
              ElementsAre("Tests_ID", "Tests_Name", "Tests_Reflex", "Tests_Note"));
  EXPECT_EQ(QueriesOf(target_).size(), 1u);  // the query step before it stays done
  EXPECT_EQ(TestCount(), 2);                 // no default data
  EXPECT_EQ(Version(), "1.0.0");             // no version update
  EXPECT_EQ(TargetInode(), before);          // no compaction
  EXPECT_FALSE(Exists(marker_));
  EXPECT_FALSE(Exists(install_copy_));
}

TEST_F(ReshaperProgramTest, QueryClashingInLetterCaseIsCodeThree) {
  {
    Database db = Database::Open(target_);
    platform::engine::CreateSavedQuery(db, "qtests", "SELECT 1");
  }
  const RunResult run = Reshaper({"INSTALL,QUERY,VERSION"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.err, HasSubstr("Reshaper: Error Creating New Queries. Reshaper Aborted\n"
                                 "detail: step: query creation\ndetail: query: QTests\n"));
  ExpectLog({kStart, "Error Creating New Queries. Reshaper Aborted"});
  EXPECT_EQ(Version(), "1.0.0");
}

TEST_F(ReshaperProgramTest, FailingDefaultDataIsCodeEight) {
  MakeShell("InstallShell.mdb",
            std::string(kInstallShell) + "INSERT INTO DefaultData VALUES ('DELETE FROM Nowhere');",
            {});
  const RunResult run = Reshaper({"INSTALL,STRUCTURE,VERSION"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.err, HasSubstr("Reshaper: Unable to Update the Default Data. Reshaper Aborted\n"
                                 "detail: step: default data\n"
                                 "detail: statement: 4: \"DELETE FROM Nowhere\"\n"));
  ExpectLog({kStart, "Unable to Update the Default Data. Reshaper Aborted"});
  EXPECT_EQ(TestCount(), 3);  // the statements before it stay applied
  EXPECT_EQ(Version(), "1.0.0");
}

TEST_F(ReshaperProgramTest, FailingVersionIsCodeSix) {
  MakeShell("InstallShell.mdb", std::string(kInstallShell) + "DELETE FROM VersionInfo;", {});
  const RunResult run = Reshaper({"INSTALL,VERSION"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.err,
              HasSubstr("Reshaper: Unable to Update Software Version. Reshaper Aborted\n"
                        "detail: step: version update\ndetail: cause: VersionInfo has no rows\n"));
  ExpectLog({kStart, "Unable to Update Software Version. Reshaper Aborted"});
}

TEST_F(ReshaperProgramTest, FailingCompactionIsCodeNine) {
  MakeFolders(databases_ + "/Temp.mdb");
  const ino_t before = TargetInode();
  const RunResult run = Reshaper({"INSTALL,VERSION"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.err, HasSubstr("Reshaper: Unable to Compact the Database. Reshaper Aborted\n"
                                 "detail: step: compaction\n"));
  ExpectLog({kStart, "Unable to Compact the Database. Reshaper Aborted"});
  EXPECT_EQ(TargetInode(), before);
  EXPECT_EQ(Version(), "2.0.0");  // what the steps did stays
  EXPECT_FALSE(Exists(marker_));
}

TEST_F(ReshaperProgramTest, MissingShellSourceIsAnUnexpectedError) {
  ::unlink((program_ + "/ERUShell.mdb").c_str());
  const RunResult run = Reshaper({"ERU,STRUCTURE"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.err, HasSubstr("Reshaper: An Unexpected Error Occured While Updating the "
                                 "Database. Reshaper Aborted\ndetail: error: 53 File not found"));
  ExpectLog({kStart, "An Unexpected Error Occured While Updating the Database. Reshaper Aborted"});
}

TEST_F(ReshaperProgramTest, InstallLogKeepsItsEarlierLines) {
  WriteFile(log_, "Reshaper program start 2020-01-01 00:00:00\r\n");
  ::unlink(target_.c_str());
  Reshaper({"INSTALL,QUERY"});
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Reshaper program start 2020-01-01 00:00:00");
  EXPECT_TRUE(IsLogLine(lines[1], kStart));
}

TEST_F(ReshaperProgramTest, MissingLogFolderOnlyMeansNoLog) {
  ::rmdir(logs_.c_str());
  const RunResult run = Reshaper({"INSTALL,QUERY"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(Exists(logs_));
  EXPECT_TRUE(Exists(marker_));
}

// The example shells, built with the sqlite3 tool as a release is built, on
// the example analyser database: up to 2.1.0 and back.
TEST_F(ReshaperProgramTest, ExampleShellsUpgradeAndDowngradeTheAnalyserDatabase) {
  const std::string examples = testing_support::SourceDir() + "/examples";
  auto sqlite = [&](const std::string& db, const std::string& script) {
    const RunResult run = testing_support::Run(
        "/bin/sh", {"-c", "/usr/bin/sqlite3 -batch \"$1\" < \"$2\" > /dev/null", "sh", db,
                    examples + "/" + script});
    ASSERT_EQ(run.exit_status, 0) << script << ": " << run.err;
  };
  for (const std::string shell : {"InstallShell", "ERUShell"}) {
    const std::string path = program_ + "/" + shell + ".mdb";
    ::unlink(path.c_str());
    sqlite(path, "analyser-schema.sql");
    sqlite(path, shell + ".sql");
  }
  ::unlink(target_.c_str());
  sqlite(target_, "analyser-schema.sql");
  sqlite(target_, "analyser-sample-data.sql");
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
