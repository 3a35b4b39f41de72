// Helpers shared by the tests: temporary folders, files, and running the
// real program binaries with a temporary system drive.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under $TMPDIR, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative; creates missing parent folders of `relative`
  // when `make_parents` is set.
  std::string Sub(const std::string& relative, bool make_parents = false) const;

 private:
  std::string path_;
};

void MakeFolders(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// The whole number in the environment variable `name`, or `fallback` when
// it is unset or empty (the campaigns' sizes).
int IntSetting(const char* name, int fallback);
void CopyFile(const std::string& from, const std::string& to);
void ChmodFile(const std::string& path, unsigned mode);
// The files in `folder` that a replacement writes beside its destination
// (".<name>.tmp"), which a run that failed must have removed.
std::vector<std::string> TemporaryFilesIn(const std::string& folder);

struct RunResult {
  int exit_status = -1;  // -1 when the process did not exit normally
  std::string out;
  std::string err;
  long peak_rss_kb = 0;  // the child's peak resident set (wait4's ru_maxrss)
};

// Where a run's standard error goes: a file that RunResult::err reads back,
// or a pipe whose reader is gone, so that every message fails with EPIPE.
enum class StandardError { kFile, kPipeWithoutReader };

// Runs `program` with `args` (each one argv element), the environment of the
// test plus `env`, and no standard input.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env = {},
              StandardError standard_error = StandardError::kFile);

// Runs `work` in a forked child that then ends with _exit, as a killed
// program would: nothing it left open is closed or rolled back. What is to
// stay open must live outside `work` (its own locals are destroyed when it
// returns). A failure of `work` fails the test.
void RunInKilledChild(const std::function<void()>& work);

// Path of a built binary, from the environment variable that CTest sets for
// the test (e.g. CATALOGSYNC_BIN); fails the test when it is missing.
std::string BinaryFromEnv(const char* variable);

// The source tree's folder, for committed fixtures.
std::string SourceDir();

// Whether this test build runs under AddressSanitizer, whose shadow memory
// dominates any figure of a run's peak memory.
constexpr bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

}  // namespace testing_support
