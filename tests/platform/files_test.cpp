#include "platform/core/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/core/error.h"
#include "tests/support/test_support.h"

namespace platform {
namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

long ErrorNumberOf(void (*f)(const std::string&), const std::string& arg) {
  try {
    f(arg);
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST(SystemPath, MapsTheDriveFromTheEnvironment) {
  ::setenv("SYSTEM_DRIVE", "/srv/analyser", 1);
  EXPECT_EQ(SystemPath("C:\\Corvista1000\\Databases\\Corvista1k.mdb"),
            "/srv/analyser/Corvista1000/Databases/Corvista1k.mdb");
  EXPECT_EQ(SystemPath("C:\\CatalogSync.txt"), "/srv/analyser/CatalogSync.txt");
  ::setenv("SYSTEM_DRIVE", "/srv/analyser/", 1);
  EXPECT_EQ(SystemPath("C:\\Reshaper.txt"), "/srv/analyser/Reshaper.txt");
  ::setenv("SYSTEM_DRIVE", "", 1);
  EXPECT_EQ(SystemPath("C:\\Reshaper.txt"), "/Reshaper.txt");
  ::unsetenv("SYSTEM_DRIVE");
  EXPECT_EQ(SystemPath("C:\\Corvista1000\\Logs"), "/Corvista1000/Logs");
}

TEST(ProgramFolder, IsTheFolderOfThisExecutable) {
  const std::string folder = ProgramFolder();
  EXPECT_TRUE(FileExists(folder + "/platform_core_test"));
  EXPECT_EQ(ProgramBaseName(), "platform_core_test");
}

TEST(Files, PlainDeleteRefusesReadOnlyForcedDeletes) {
  TempDir dir;
  const std::string f = dir.Sub("ro.txt");
  WriteFile(f, "x");
  ::chmod(f.c_str(), 0444);
  EXPECT_TRUE(IsReadOnly(f));
  EXPECT_EQ(ErrorNumberOf([](const std::string& p) { DeleteFile(p, false); }, f),
            err::kPermissionDenied);
  EXPECT_TRUE(FileExists(f));
  DeleteFile(f, true);
  EXPECT_FALSE(FileExists(f));
  EXPECT_EQ(ErrorNumberOf([](const std::string& p) { DeleteFile(p, true); }, f),
            err::kFileNotFound);
}

TEST(Files, CopyOverReplacesReadOnlyDestinationKeepingItsMode) {
  TempDir dir;
  const std::string src = dir.Sub("a"), dst = dir.Sub("b");
  WriteFile(src, std::string(200000, 'n'));
  WriteFile(dst, "old, longer or shorter");
  ::chmod(dst.c_str(), 0440);
  CopyFileOver(src, dst);
  EXPECT_EQ(ReadFile(dst), std::string(200000, 'n'));
  struct stat st {};
  ::stat(dst.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0440u);
  EXPECT_EQ(ErrorNumberOf([](const std::string& p) { CopyFileOver(p + "/missing", p + "/x"); },
                          dir.path()),
            err::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([](const std::string& p) { CopyFileOver(p + "/a", p + "/no/such/x"); },
                          dir.path()),
            err::kFileNotFound);
}

// A copy or write killed half-way leaves its temporary file; the next one
// takes it over (longer content truncated) so that nothing accumulates.
TEST(Files, ReplacementTakesOverALeftoverTemporaryFile) {
  TempDir dir;
  const std::string src = dir.Sub("a"), dst = dir.Sub("b");
  WriteFile(src, "new");
  WriteFile(dir.Sub(".b.tmp"), std::string(100000, 'x'));
  CopyFileOver(src, dst);
  WriteFile(dir.Sub(".b.tmp"), std::string(100000, 'y'));
  WriteFileAtomically(dst, "newer");
  EXPECT_EQ(ReadFile(dst), "newer");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
}

TEST(Files, AtomicWriteCreateAndAppend) {
  TempDir dir;
  const std::string f = dir.Sub("pkg");
  WriteFileAtomically(f, "first version, long");
  WriteFileAtomically(f, "second");
  EXPECT_EQ(ReadFile(f), "second");
  const std::string m = dir.Sub("marker.txt");
  WriteFile(m, "stale");
  CreateEmptyFile(m);
  EXPECT_EQ(ReadFile(m), "");
  const std::string log = dir.Sub("log");
  AppendToFile(log, "a\r\n");
  AppendToFile(log, "b\r\n");
  EXPECT_EQ(ReadFile(log), "a\r\nb\r\n");
  ::chmod(log.c_str(), 0444);
  EXPECT_EQ(ErrorNumberOf([](const std::string& p) { AppendToFile(p, "c"); }, log),
            err::kPermissionDenied);
  EXPECT_EQ(ReadFile(log), "a\r\nb\r\n");
  SetAttributesNormal(log);
  EXPECT_FALSE(IsReadOnly(log));
  EXPECT_EQ(ErrorNumberOf([](const std::string& p) { AppendToFile(p + "/nofolder/log", "c"); },
                          dir.path()),
            err::kFileNotFound);
}

TEST(Files, FolderAndNameParts) {
  EXPECT_EQ(FolderOf("/a/b/c.mdb"), "/a/b");
  EXPECT_EQ(FolderOf("/c.mdb"), "/");
  EXPECT_EQ(FolderOf("c.mdb"), ".");
  EXPECT_EQ(FileNameOf("/a/b/c.mdb"), "c.mdb");
}

}  // namespace
}  // namespace platform
