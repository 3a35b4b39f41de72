#include "tests/reshaper/program_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "tests/reshaper/reshaper_fixture.h"
#include "tests/support/databases.h"

namespace reshaper_test {

using testing_support::Exists;
using testing_support::MakeFolders;
using testing_support::ReadFile;
using testing_support::WriteFile;

const char* const kStart = "Reshaper program start";

void ReshaperProgramTest::SetUp() {
  MakeFolders(program_);
  MakeFolders(databases_);
  MakeFolders(logs_);
  testing_support::CopyFile(testing_support::BinaryFromEnv("RESHAPER_BIN"), binary_);
  testing_support::ChmodFile(binary_, 0755);
  CreateDatabase(target_, kTargetTables);
  // Free pages, which only a compaction takes away.
  platform::engine::Database::Open(target_).Exec(
      "CREATE TABLE Spare (Spare_Bytes BINARY); INSERT INTO Spare VALUES (zeroblob(200000));"
      "DROP TABLE Spare;");
  MakeShell("InstallShell.mdb", kInstallShell, kInstallQueries);
  MakeShell("ERUShell.mdb", kEruShell, kEruQueries);
}

void ReshaperProgramTest::MakeShell(const std::string& name, const std::string& sql,
                                    const std::vector<platform::engine::SavedQuery>& queries) {
  const std::string path = program_ + "/" + name;
  if (Exists(path)) ::unlink(path.c_str());
  // The shell holds the target's tables too, so that its queries prepare.
  CreateDatabase(path, std::string(kTargetTables) + kShellTables + sql, queries);
}

void ReshaperProgramTest::ExtendInstallShell(const std::string& sql) {
  MakeShell("InstallShell.mdb", std::string(kInstallShell) + sql, kInstallQueries);
}

void ReshaperProgramTest::UseExamples() {
  const std::string examples = testing_support::SourceDir() + "/examples/";
  auto sqlite = [&](const std::string& db, const std::string& script) {
    const auto run = testing_support::Run(
        "/bin/sh",
        {"-c", "/usr/bin/sqlite3 -batch \"$1\" < \"$2\" > /dev/null", "sh", db, examples + script});
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
}

testing_support::RunResult ReshaperProgramTest::Reshaper(const std::vector<std::string>& args) {
  return testing_support::Run(binary_, args, {{"SYSTEM_DRIVE", drive_}});
}

void ReshaperProgramTest::ExpectLog(const std::vector<std::string>& texts) {
  // Every line is its text, a blank, a date and time, and CR LF.
  static const std::regex line(R"(([^\r\n]*) \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\r\n)");
  const std::string log = Exists(log_) ? ReadFile(log_) : "";
  std::vector<std::string> found;
  std::size_t matched = 0;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
    found.push_back((*it)[1]);
    matched += it->length();
  }
  EXPECT_EQ(found, texts);
  EXPECT_EQ(matched, log.size()) << "a line of another form in\n" << log;
}

ino_t ReshaperProgramTest::TargetInode() {
  struct stat st {};
  EXPECT_EQ(::stat(target_.c_str(), &st), 0);
  return st.st_ino;
}

std::string ReshaperProgramTest::Version() {
  return ReadScalar(target_, "SELECT Version_Number FROM SoftwareVersion").ToText();
}

long ReshaperProgramTest::TestCount() {
  return ReadScalar(target_, "SELECT count(*) FROM Tests").ToLong();
}

void ReshaperProgramTest::Arrange(const std::string& what) {
  const std::size_t colon = what.find(": ");
  const std::string word = what.substr(0, colon);
  const std::string sql = colon == std::string::npos ? "" : what.substr(colon + 2);
  if (word == "shell") {
    ExtendInstallShell(sql);
  } else if (word == "target") {
    platform::engine::Database::Open(target_).Exec(sql);
  } else if (word == "query") {
    auto db = platform::engine::Database::Open(target_);
    platform::engine::CreateSavedQuery(db, sql, "SELECT 1");
  } else if (word == "no target") {
    WriteFile(marker_, "");
    ::unlink(target_.c_str());
  } else if (word == "read-only marker") {
    WriteFile(marker_, "");
    testing_support::ChmodFile(marker_, 0444);
  } else if (word == "read-only target") {
    testing_support::ChmodFile(target_, 0444);
  } else if (word == "live lock") {
    user_.emplace(platform::engine::Database::Open(target_));
  } else if (word == "shell copy in use") {
    testing_support::CopyFile(program_ + "/InstallShell.mdb", install_copy_);
    user_.emplace(platform::engine::Database::Open(install_copy_));
  } else if (word == "stale lock") {
    WriteFile(databases_ + "/Corvista1k.ldb", "");
  } else if (word == "target link") {
    const std::string real = dir_.Sub("elsewhere/Corvista1k.mdb", true);
    std::filesystem::rename(target_, real);
    std::filesystem::create_symlink(real, target_);
  } else if (word == "scratch folder") {
    MakeFolders(databases_ + "/Temp.mdb");
  } else if (word == "no ERU shell") {
    ::unlink((program_ + "/ERUShell.mdb").c_str());
  } else if (word == "FIFO as ERU shell") {
    ::unlink((program_ + "/ERUShell.mdb").c_str());
    ASSERT_EQ(::mkfifo((program_ + "/ERUShell.mdb").c_str(), 0644), 0);
  } else if (word == "device as ERU shell") {
    ::unlink((program_ + "/ERUShell.mdb").c_str());
    ASSERT_EQ(::symlink("/dev/zero", (program_ + "/ERUShell.mdb").c_str()), 0);
  } else if (word == "damaged target") {
    // A table of another program's, which State does not read.
    platform::engine::Database::Open(target_).Exec(
        "CREATE TABLE Notes (Note MEMO); INSERT INTO Notes VALUES ('first'), ('second');");
    testing_support::DamageDatabase(target_, testing_support::Damage::kLoweredCellCount, "Notes");
    EXPECT_NE(testing_support::QuickCheckOutput(target_), "ok\n") << "not damaged";
  } else if (!word.empty()) {
    ADD_FAILURE() << "no arrangement " << what;
  }
}

std::string ReshaperProgramTest::State(ino_t inode_before) {
  std::string files;
  for (const auto& entry : std::filesystem::directory_iterator(databases_)) {
    if (entry.path() != target_) files += " " + entry.path().filename().string();
  }
  if (Exists(marker_)) files += " marker";
  if (!Exists(target_)) return "no target /" + files;
  std::string state = Version();
  if (FieldNames(target_, "SoftwareVersion").size() > 2) {
    state +=
        " build " + ReadScalar(target_, "SELECT Version_Build FROM SoftwareVersion").Describe();
  }
  state += " /";
  const auto fields = FieldNames(target_, "Tests");
  for (const auto& name : fields) state += " " + name.substr(name.find('_') + 1);
  const bool names = fields.size() > 1 && fields[1] == "Tests_Name";
  state += " / " + ReadScalar(target_, names ? "SELECT group_concat(Tests_Name) FROM (SELECT "
                                               "Tests_Name FROM Tests ORDER BY Tests_ID)"
                                             : "SELECT count(*) FROM Tests")
                       .ToText();
  state += " /";
  for (const auto& query : QueriesOf(target_)) {
    state += " " + query.name;
    const std::string has_view =
        "SELECT count(*) FROM sqlite_schema WHERE type = 'view' AND name = '" + query.name + "'";
    if (ReadScalar(target_, has_view).ToLong() == 0) state += "(text only)";
  }
  state += " /";
  if (ReadScalar(target_, "PRAGMA freelist_count").ToLong() == 0) state += " compacted";
  if (TargetInode() != inode_before) state += " replaced";
  if (std::filesystem::is_symlink(target_)) state += " link";
  return state + files;
}

std::string Expand(std::string text, const std::string& databases) {
  for (std::size_t at; (at = text.find("%D")) != std::string::npos;) {
    text.replace(at, 2, databases);
  }
  return text;
}

namespace {
constexpr const char* kUntouched = "1.0.0 / ID Name / GLU,CHOL / /";
constexpr const char* kQueryOverNote =
    "shell: CREATE TABLE SavedQueries (Name TEXT(255) NOT NULL, SQL MEMO NOT NULL);"
    "INSERT INTO SavedQueries VALUES ('QNotes', 'SELECT Tests_Note FROM Tests');";
}  // namespace

// clang-format off
const std::vector<RunCase> kRunCases = {
    {"FullInstall", {"INSTALL,QUERY,STRUCTURE,VERSION"}, "", 0, "",
     "2.0.0 build 7 / ID Name Reflex Note / GLU,CHOL,ALT / QTests / compacted marker", true},
    {"WordsIgnoreCaseAndSpaces", {" install , structure "}, "", 0, "",
     "1.0.0 build 7 / ID Name Reflex Note / GLU,CHOL,ALT / / compacted marker", true},
    // The ERU shell's default data would empty Tests: it never runs.
    {"Eru", {"ERU,QUERY,STRUCTURE,VERSION"}, "", 0, "", "0.9.0 / ID / 2 / QEru / compacted marker",
     true},
    // The version lands in a field that the structure step adds, after the
    // default data has written it.
    {"StructureRunsBeforeVersionWhateverTheWordOrder", {"VERSION,STRUCTURE,INSTALL"},
     "shell: UPDATE VersionInfo SET FieldName = 'Version_Build', VersionNumber = '42';", 0, "",
     "1.0.0 build 42 / ID Name Reflex Note / GLU,CHOL,ALT / / compacted marker", true},
    // The install shell's working copy, made for the first word, is never deleted.
    {"LastModeWordChoosesTheShell", {"INSTALL,ERU,QUERY"}, "", 0, "",
     "1.0.0 / ID Name / GLU,CHOL / QEru / compacted InstallShell.mdb marker", true},
    {"ArgumentsAreJoinedWithOneBlank", {"INSTALL,", "QUERY"}, "", 0, "",
     "1.0.0 / ID Name / GLU,CHOL / QTests / compacted marker", true},
    // Compacted in place: the link stays and names the compacted file.
    {"TargetThroughALink", {"INSTALL,VERSION"}, "target link", 0, "",
     "2.0.0 / ID Name / GLU,CHOL / / compacted link marker", true},
    {"StaleLockFileIsRemoved", {"INSTALL,VERSION"}, "stale lock", 0,
     "detail: stale lock file removed: %D/Corvista1k.ldb\n",
     "2.0.0 / ID Name / GLU,CHOL / / compacted marker", false},
    // Parameter errors: the working copy made for a mode word is deleted.
    {"ModeWordAlone", {"INSTALL"}, "", 2, "Parameter Error. Reshaper Aborted\n"
     "detail: command line: \"INSTALL\"\ndetail: cause: fewer than two words\ndetail: usage: ",
     kUntouched, true},
    // The companion tools' --help is no word of this command line.
    {"HelpIsRefused", {"--help"}, "", 2, "Parameter Error. Reshaper Aborted\n"
     "detail: command line: \"--help\"\ndetail: cause: fewer than two words\n", kUntouched,
     false},
    {"NoModeWord", {"QUERY,VERSION"}, "", 2, "Parameter Error. Reshaper Aborted\n"
     "detail: command line: \"QUERY,VERSION\"\ndetail: cause: no mode word INSTALL or ERU\n",
     kUntouched, true},
    {"TrailingComma", {"INSTALL,STRUCTURE,"}, "", 2, "Parameter Error. Reshaper Aborted\n"
     "detail: word: \"\"\ndetail: cause: not a keyword\n", kUntouched, true},
    {"QuotedArgumentKeepsItsMarks", {"\"INSTALL,QUERY\""}, "", 2,
     "Parameter Error. Reshaper Aborted\ndetail: word: \"\"INSTALL\"\n", kUntouched, true},
    // The marker of an earlier run goes before any check.
    {"MissingTarget", {"INSTALL,QUERY"}, "no target", 1,
     "Corvista1k.mdb is Missing. Reshaper Aborted\ndetail: file: %D/Corvista1k.mdb\n",
     "no target /", false},
    {"LockFileOfALiveUser", {"INSTALL,STRUCTURE"}, "live lock", 1,
     "The Corvista1k.mdb Database is locked. Reshaper Aborted\n"
     "detail: lock file: %D/Corvista1k.ldb\n"
     "detail: cause: a running program has the database open\n", kUntouched, false},
    {"ReadOnlyMarkerStays", {"INSTALL,QUERY"}, "read-only marker", 1,
     "An Unexpected Error Occured While Updating the Database. Reshaper Aborted\n"
     "detail: error: 70 Permission denied", "1.0.0 / ID Name / GLU,CHOL / / marker", false},
    // Read-only by its mode bits also for root: the first write fails as it
    // does for a user without write permission, and the working copy goes.
    {"ReadOnlyTarget", {"INSTALL,QUERY,STRUCTURE,VERSION"}, "read-only target", 1,
     "Error Creating New Queries. Reshaper Aborted\ndetail: step: query creation\n"
     "detail: query: QTests\ndetail: sql: SELECT Tests_ID, Tests_Name FROM Tests\n"
     "detail: engine: 8 attempt to write a readonly database\n"
     "detail: SQL: CREATE TABLE IF NOT EXISTS SavedQueries (Name TEXT(255) NOT NULL, SQL MEMO NOT "
     "NULL)\ndetail: read-only: %D/Corvista1k.mdb (mode 0444)\n", kUntouched, true},
    // A run with nothing else to write is not let compact it either.
    {"ReadOnlyTargetIsNotCompacted", {"ERU,ERU"}, "read-only target", 1,
     "Unable to Compact the Database. Reshaper Aborted\ndetail: step: compaction\n"
     "detail: database: %D/Corvista1k.mdb\ndetail: scratch file: %D/Temp.mdb\n"
     "detail: engine: 8 attempt to write a readonly database\ndetail: SQL: VACUUM\n"
     "detail: read-only: %D/Corvista1k.mdb (mode 0444)\n", kUntouched, false},
    // A failing step: the steps before it stay done, none after it runs.
    {"FailingStructureRow", {"INSTALL,QUERY,STRUCTURE,VERSION"},
     "shell: INSERT INTO StructureInfo (\"Table\", Name, DataType) "
     "VALUES ('Tests', 'Tests_Comment', 'MEMO');", 1,
     "Unable to Update the Database Structure. Reshaper Aborted\n"
     "detail: step: structure update\n"
     "detail: row: 4: table \"Tests\", name \"Tests_Comment\", type \"MEMO\"\n",
     "1.0.0 build Null / ID Name Reflex Note / GLU,CHOL / QTests /", true},
    {"QueryClashingInLetterCase", {"INSTALL,QUERY,VERSION"}, "query: qtests", 1,
     "Error Creating New Queries. Reshaper Aborted\ndetail: step: query creation\n"
     "detail: query: QTests\ndetail: sql: SELECT Tests_ID, Tests_Name FROM Tests\n"
     "detail: engine: 3007 ", "1.0.0 / ID Name / GLU,CHOL / qtests /", true},
    {"QueryClashingWithATable", {"INSTALL,QUERY,VERSION"}, "target: CREATE TABLE qtests (X LONG);",
     1, "Error Creating New Queries. Reshaper Aborted\ndetail: step: query creation\n"
     "detail: query: QTests\n", kUntouched, true},
    {"FailingDefaultData", {"INSTALL,STRUCTURE,VERSION"},
     "shell: INSERT INTO DefaultData VALUES ('DELETE FROM Nowhere');", 1,
     "Unable to Update the Default Data. Reshaper Aborted\ndetail: step: default data\n"
     "detail: statement: 4: \"DELETE FROM Nowhere\"\n",
     "1.0.0 build 7 / ID Name Reflex Note / GLU,CHOL,ALT / /", true},
    // Deleting a field keeps the text of another program's view over it.
    {"DeletedFieldKeepsOtherViews", {"ERU,QUERY,STRUCTURE"},
     "target: CREATE VIEW Names AS SELECT Tests_Name FROM Tests;", 0,
     "detail: saved query without view: Names\n",
     "1.0.0 / ID / 2 / QEru Names(text only) / compacted marker", true},
    // A release query over a field that the same run adds gets its view
    // after the structure step; without that step it stays a text.
    {"QueryOverAFieldTheRunAdds", {"INSTALL,QUERY,STRUCTURE"}, kQueryOverNote, 0, "",
     "1.0.0 build 7 / ID Name Reflex Note / GLU,CHOL,ALT / QNotes QTests / compacted marker", true},
    {"QueryOverAFieldNoStepAdds", {"INSTALL,QUERY"}, kQueryOverNote, 0,
     "detail: saved query without view: QNotes\n",
     "1.0.0 / ID Name / GLU,CHOL / QNotes(text only) QTests / compacted marker", true},
    // Default data holds action statements only.
    {"DefaultDataSelect", {"INSTALL,STRUCTURE,VERSION"},
     "shell: INSERT INTO DefaultData VALUES ('SELECT Tests_Name FROM Tests');", 1,
     "Unable to Update the Default Data. Reshaper Aborted\ndetail: step: default data\n"
     "detail: statement: 4: \"SELECT Tests_Name FROM Tests\"\ndetail: engine: 3016 ",
     "1.0.0 build 7 / ID Name Reflex Note / GLU,CHOL,ALT / /", true},
    // Default data is held to the declared types: a name too long for
    // Tests_Name TEXT(10) fails the step, and nothing of its statement stays.
    {"DefaultDataThatDoesNotFit", {"INSTALL,STRUCTURE,VERSION"},
     "shell: INSERT INTO DefaultData VALUES ('INSERT INTO Tests (Tests_ID, Tests_Name) "
     "VALUES (8, ''FITS''), (9, ''ABCDEFGHIJKLMNOPQRS'')');", 1,
     "Unable to Update the Default Data. Reshaper Aborted\ndetail: step: default data\n"
     "detail: statement: 4: \"INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (8, 'FITS'), "
     "(9, 'ABCDEFGHIJKLMNOPQRS')\"\ndetail: engine: 3001 ",
     "1.0.0 build 7 / ID Name Reflex Note / GLU,CHOL,ALT / /", true},
    // An empty default is none: the default data's insert that omits the
    // field is not refused as a zero-length text.
    {"EmptyDefaultIsNoDefault", {"INSTALL,STRUCTURE,VERSION"},
     "shell: INSERT INTO StructureInfo VALUES "
     "('Tests', 'Tests_Code', 'TEXT', '5', '', NULL, 0, NULL, NULL);", 0, "",
     "2.0.0 build 7 / ID Name Reflex Note Code / GLU,CHOL,ALT / / compacted marker", true},
    {"FailingVersion", {"INSTALL,VERSION"}, "shell: DELETE FROM VersionInfo;", 1,
     "Unable to Update Software Version. Reshaper Aborted\n"
     "detail: step: version update\ndetail: cause: VersionInfo has no rows\n", kUntouched, true},
    // A scratch "file" that cannot be deleted or written.
    {"FailingCompaction", {"INSTALL,VERSION"}, "scratch folder", 1,
     "Unable to Compact the Database. Reshaper Aborted\ndetail: step: compaction\n",
     "2.0.0 / ID Name / GLU,CHOL / / Temp.mdb", false},
    // Another program has the install shell's working copy open: it is
    // neither copied over nor deleted.
    {"ShellCopyInUse", {"INSTALL,QUERY"}, "shell copy in use", 1,
     "An Unexpected Error Occured While Updating the Database. Reshaper Aborted\n"
     "detail: error: 70 Permission denied\ndetail: lock file: %D/InstallShell.ldb\n"
     "detail: cause: a running program has the shell's working copy open\n",
     "1.0.0 / ID Name / GLU,CHOL / / InstallShell.mdb", false},
    {"MissingShellSource", {"ERU,STRUCTURE"}, "no ERU shell", 1,
     "An Unexpected Error Occured While Updating the Database. Reshaper Aborted\n"
     "detail: error: 53 File not found", kUntouched, true},
    // The last row of a table is gone from its page, not yet from the file.
    {"DamagedTarget", {"INSTALL,STRUCTURE"}, "damaged target", 1,
     "An Unexpected Error Occured While Updating the Database. Reshaper Aborted\n"
     "detail: error: 11 database disk image is malformed\ndetail: database: %D/Corvista1k.mdb\n"
     "detail: problem: Fragmentation of ", kUntouched, true},
    // Neither waited on nor copied: a FIFO blocks, a device never ends.
    {"FifoAsShellSource", {"ERU,STRUCTURE"}, "FIFO as ERU shell", 1,
     "An Unexpected Error Occured While Updating the Database. Reshaper Aborted\n"
     "detail: error: 57 Device I/O error", kUntouched, false},
    {"DeviceAsShellSource", {"ERU,STRUCTURE"}, "device as ERU shell", 1,
     "An Unexpected Error Occured While Updating the Database. Reshaper Aborted\n"
     "detail: error: 57 Device I/O error", kUntouched, false},
};
// clang-format on

}  // namespace reshaper_test
