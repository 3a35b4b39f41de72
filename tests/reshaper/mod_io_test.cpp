#include "reshaper/mod_io.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace reshaper {
namespace {

using testing_support::ChmodFile;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(WriteLog, CreatesAMissingFileWithTheOneLine) {
  TempDir dir;
  const std::string log = dir.Sub("QVRInstall.log");
  EXPECT_TRUE(WriteLog("Reshaper program start 2024-01-02 03:04:05", log));
  EXPECT_EQ(ReadFile(log), "Reshaper program start 2024-01-02 03:04:05\r\n");
}

TEST(WriteLog, AppendsAfterWhatTheLogHolds) {
  TempDir dir;
  const std::string log = dir.Sub("QVRInstall.log");
  WriteFile(log, "earlier line\r\nno line end yet");
  EXPECT_TRUE(WriteLog("second", log));
  EXPECT_TRUE(WriteLog("", log));
  EXPECT_EQ(ReadFile(log), "earlier line\r\nno line end yetsecond\r\n\r\n");
}

TEST(WriteLog, MissingFolderIsFalseAndCreatesNothing) {
  TempDir dir;
  const std::string folder = dir.Sub("Logs");
  EXPECT_FALSE(WriteLog("line", folder + "/QVRInstall.log"));
  EXPECT_FALSE(Exists(folder));
}

TEST(WriteLog, ReadOnlyLogIsFalseAndKeptAsItWas) {
  TempDir dir;
  const std::string log = dir.Sub("QVRInstall.log");
  WriteFile(log, "kept\r\n");
  ChmodFile(log, 0444);
  EXPECT_FALSE(WriteLog("line", log));
  EXPECT_EQ(ReadFile(log), "kept\r\n");
}

}  // namespace
}  // namespace reshaper
