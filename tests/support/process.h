// Running the real program binaries and other processes: one way to start
// a process and capture its status, standard output and standard error.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

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

// The sqlite3 command-line tool on `database`: with `sql` as its argument,
// or with the file `script` on its standard input (as a release is built).
RunResult Sqlite3(const std::string& database, const std::string& sql);
RunResult Sqlite3Script(const std::string& database, const std::string& script);

}  // namespace testing_support
