// Reshaper as the real program: copied into a temporary program folder with
// its two shell databases, run against a temporary system drive holding a
// small target database and the log folder.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/engine/schema.h"
#include "tests/support/test_support.h"

namespace reshaper_test {

// The text of the install log's start line.
extern const char* const kStart;

class ReshaperProgramTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // Replaces the shell database `name` of the program folder by one holding
  // the target's tables, the shell tables, `sql` and `queries`.
  void MakeShell(const std::string& name, const std::string& sql,
                 const std::vector<platform::engine::SavedQuery>& queries);
  testing_support::RunResult Reshaper(const std::vector<std::string>& args);

  // The log's lines without their CR LF; every line must end with one.
  std::vector<std::string> LogLines();
  // `line` is `text`, one blank and a date and time.
  static bool IsLogLine(const std::string& line, const std::string& text);
  void ExpectLog(const std::vector<std::string>& texts);

  ino_t TargetInode();
  std::string Version();
  long TestCount();

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
};

}  // namespace reshaper_test
