// Starting processes and capturing what they leave: status, output, peak memory.
#include "tests/support/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/support/files.h"

extern char** environ;

namespace testing_support {

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env, StandardError standard_error) {
  RunResult result;
  const TempDir dir;
  const std::string out_path = dir.Sub("out"), err_path = dir.Sub("err");
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (!env.count(entry.substr(0, entry.find('=')))) env_strings.push_back(entry);
  }
  for (const auto& [k, v] : env) env_strings.push_back(k + "=" + v);
  std::vector<std::string> argv_strings{program};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv, envp;
  for (auto& s : argv_strings) argv.push_back(s.data());
  for (auto& s : env_strings) envp.push_back(s.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const int to_file = O_WRONLY | O_CREAT | O_TRUNC;
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), to_file, 0600);
  int unread[2] = {-1, -1};  // a pipe whose reading end is closed before the start
  if (standard_error == StandardError::kPipeWithoutReader) {
    EXPECT_EQ(::pipe2(unread, O_CLOEXEC), 0) << "cannot make a pipe: " << std::strerror(errno);
    ::close(unread[0]);
    posix_spawn_file_actions_adddup2(&actions, unread[1], 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), to_file, 0600);
  }
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (unread[1] >= 0) ::close(unread[1]);
  EXPECT_EQ(rc, 0) << "cannot start " << program << ": " << std::strerror(rc);
  if (rc != 0) return result;
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  result.peak_rss_kb = usage.ru_maxrss;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(out_path);
  if (standard_error == StandardError::kFile) result.err = ReadFile(err_path);
  return result;
}

void RunInKilledChild(const std::function<void()>& work) {
  const pid_t child = ::fork();
  if (child == 0) {
    try {
      work();
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "cannot fork, or the child's work failed";
  }
}

std::string BinaryFromEnv(const char* variable) {
  const char* value = std::getenv(variable);
  EXPECT_TRUE(value && *value) << variable << " is not set; run the tests through CTest";
  return value ? value : "";
}

RunResult Sqlite3(const std::string& database, const std::string& sql) {
  return Run("/usr/bin/sqlite3", {"-batch", database, sql});
}

RunResult Sqlite3Script(const std::string& database, const std::string& script) {
  return Run("/bin/sh",
             {"-c", "exec /usr/bin/sqlite3 -batch \"$1\" < \"$2\"", "sh", database, script});
}
}  // namespace testing_support
