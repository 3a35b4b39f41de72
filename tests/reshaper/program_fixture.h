// Reshaper as the real program: copied into a temporary program folder with
// its two shell databases, run against a temporary system drive holding a
// small target database and the log folder. Shared with ShellPackage's
// tests, whose plans are compared with the real runs of kRunCases.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/engine/database.h"
#include "platform/engine/schema.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace reshaper_test {

// The text of the install log's start line.
extern const char* const kStart;

class ReshaperProgramTest : public ::testing::Test {
 public:  // the cases of kRunCases arrange the files through these
  void SetUp() override;

  // Replaces the shell database `name` of the program folder by one holding
  // the target's tables, the shell tables, `sql` and `queries`.
  void MakeShell(const std::string& name, const std::string& sql,
                 const std::vector<platform::engine::SavedQuery>& queries);
  // The install shell of the fixture with `sql` run on it last.
  void ExtendInstallShell(const std::string& sql);
  // Lays out one of the files' states that RunCase::arrange names.
  void Arrange(const std::string& what);
  // Both shells and the target built from the examples with the sqlite3
  // tool, as a release is built: the analyser schema and sample data.
  void UseExamples();
  testing_support::RunResult Reshaper(const std::vector<std::string>& args);

  // The log holds these texts, one a line with the date and time.
  void ExpectLog(const std::vector<std::string>& texts);

  ino_t TargetInode();
  std::string Version();
  long TestCount();
  // The target in one line, for whole comparison: "version [build B] /
  // Tests' fields without "Tests_" / the tests' names (or their count) /
  // saved queries / ["compacted" when it has no free page] ["replaced"
  // when the file is not that of `inode_before`] ["link" when the target
  // is a symbolic link], the other files of the database folder,
  // ["marker"]".
  std::string State(ino_t inode_before);

  testing_support::TempDir dir_;
  std::string program_ = dir_.Sub("program");
  std::string binary_ = program_ + "/Reshaper";
  std::string drive_ = dir_.Sub("drive");
  std::string databases_ = drive_ + "/Corvista1000/Databases";
  std::string logs_ = drive_ + "/Corvista1000/Logs";
  std::string log_ = logs_ + "/QVRInstall.log";
  std::string target_ = databases_ + "/Corvista1k.mdb";
  std::string marker_ = drive_ + "/Reshaper.txt";
  std::string install_copy_ = databases_ + "/InstallShell.mdb";
  std::string eru_copy_ = databases_ + "/ERUShell.mdb";
  std::optional<platform::engine::Database> user_;  // another program holding the target
};

// A run of Reshaper on the fixture's files and how it must end.
struct RunCase {
  const char* name;
  std::vector<std::string> args;
  // "" or: "shell: <SQL run last on the install shell>", "target: <SQL>",
  // "query: <name of a saved query in the target>", "no target" (and a
  // marker left by an earlier run), "read-only marker", "read-only target"
  // (mode 0444), "live lock" (a
  // user holds the target open), "shell copy in use" (a user holds the
  // install shell's working copy open), "stale lock", "target link" (the target
  // is a symbolic link to a file elsewhere), "scratch folder" (the
  // compaction's scratch file is a folder), "no ERU shell", "FIFO as ERU
  // shell", "damaged target" (a page's cell count lowered in a table
  // that State does not read).
  const char* arrange;
  int status;
  // Standard error: exactly, on success; else its beginning after
  // "Reshaper: ", the first line being the box's text, which a status of 1
  // also logs. "%D" stands for the database folder.
  const char* err;
  const char* state;  // ReshaperProgramTest::State after the run
  bool plan;          // ShellPackage's plan can foresee the run
};
extern const std::vector<RunCase> kRunCases;
inline void PrintTo(const RunCase& c, std::ostream* os) {
  *os << c.name;
}

// `text` with every "%D" replaced by `databases`.
std::string Expand(std::string text, const std::string& databases);

}  // namespace reshaper_test
