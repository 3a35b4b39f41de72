// Running the built programs and other processes, capturing status and output.
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

// Standard error: a file read back into `err`, or a pipe without reader (messages get EPIPE).
enum class StandardError { kFile, kPipeWithoutReader };

// Runs `program` with `args`, the test's environment plus `env`, and no standard input.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env = {},
              StandardError standard_error = StandardError::kFile);
// Runs `work` in a forked child that then _exits as if killed: nothing it left open (outside
// its locals) is closed or rolled back. A failure of `work` fails the test.
void RunInKilledChild(const std::function<void()>& work);
// The built binary that CTest names in `variable` (e.g. CATALOGSYNC_BIN); fails when unset.
std::string BinaryFromEnv(const char* variable);

// Whether this build runs under AddressSanitizer, whose shadow memory dominates peak memory.
constexpr bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return false;
#endif
}

// The sqlite3 tool on `database` with `sql` as argument, or `script` (a file) as standard input.
RunResult Sqlite3(const std::string& database, const std::string& sql);
RunResult Sqlite3Script(const std::string& database, const std::string& script);

}  // namespace testing_support
