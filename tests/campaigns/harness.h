// The one harness of the crash and concurrency campaigns: the workstation
// whose database is put back from a fixture before every run, and the two
// launchers they need beside testing_support::Run: a run under ptrace killed
// before its n-th file-changing call, and processes started side by side.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>

#include "tests/support/catalog.h"
#include "tests/support/databases.h"
#include "tests/support/sandbox.h"

namespace campaigns {

struct Command {
  std::string program;
  std::vector<std::string> args;           // argv[1...]
  std::map<std::string, std::string> env;  // added to the harness's own environment
};

// A Sandbox with its Logs folder and the fixtures its runs start from.
class Workstation : public testing_support::Sandbox {
 public:
  Workstation() { testing_support::MakeFolders(logs()); }

  // The fixture `name`: the sample database grown by `tests` tests from test
  // 100 on, then `more_sql`.
  std::string MakeFixture(const std::string& name, int tests, const std::string& more_sql = "") {
    testing_support::CreateAnalyserDatabase(
        Sub(name), testing_support::SampleDataSql() +
                       testing_support::ExistingTestsSql(100, tests) + more_sql);
    return Sub(name);
  }

  // The example shell `name` ("InstallShell", "ERUShell") in `folder`.
  void MakeShell(const std::string& folder, const std::string& name) const {
    auto shell = platform::engine::Database::Create(folder + "/" + name + ".mdb");
    shell.Exec(testing_support::ExampleFile("analyser-schema.sql"));
    shell.Exec(testing_support::ExampleFile(name + ".sql"));
  }

  // The database from `fixture`, nothing beside it, no marker, no log: every
  // run from here makes the same file changes (a log's first line also syncs
  // its folder), so a kill point of one run is one of every run.
  void Reset(const std::string& fixture) const {
    for (const auto& folder : {databases(), logs()})
      for (const auto& entry : std::filesystem::directory_iterator(folder))
        std::filesystem::remove(entry.path());
    for (const auto* name : {"CatalogSync", "Reshaper"}) std::filesystem::remove(marker(name));
    testing_support::CopyFile(fixture, database());
  }

  Command CommandOf(const std::string& program, const std::string& args) const {
    return {program, {args}, {{"SYSTEM_DRIVE", drive()}}};
  }
};

// The package `path` of an INSTALL of `assays` assays from test 100 on: a
// quarter deleted by name, a quarter modified, the rest added (half of those
// over the fixture's tests). `failing` adds a last assay whose name is too
// long for Tests_Name: the run fails after the walk did all the others.
inline void WriteInstallPackage(const std::string& path, int assays, std::int32_t reagent_vol,
                                bool failing = false) {
  testing_support::CatalogBuilder catalog;
  static const char* const kModes[] = {"DELETE", "MODIFY", "ADD", "ADD"};
  for (int i = 0; i < assays; ++i) {
    const auto number = static_cast<std::int16_t>(100 + i);
    catalog.Add(number, "T" + std::to_string(number), kModes[i % 4],
                {reagent_vol, 40 * (i % 2), 0});
  }
  if (failing) catalog.Add(41, "O'NEIL-PLUS", "ADD");
  catalog.WritePackage(path);
}

[[noreturn]] inline void Fail(const std::string& what) {
  throw std::runtime_error("campaign harness: " + what + ": " + std::strerror(errno));
}

// Forks a child that runs `in_child` and ends with _exit, never returning
// into the harness (no test code runs twice).
inline pid_t Start(const std::function<void()>& in_child) {
  const pid_t pid = ::fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    in_child();
    _exit(0);
  }
  return pid;
}

// A child that execs `command`: no standard input or output, standard error
// to `err_file`; traced (stopped at its start) when asked.
inline pid_t StartCommand(const Command& command, const std::string& err_file,
                          bool traced = false) {
  return Start([&] {
    const int in = ::open("/dev/null", O_RDWR);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(in, 1) < 0 || ::dup2(err, 2) < 0 ||
        (traced && ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0))
      _exit(126);
    for (const auto& [name, value] : command.env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(command.program.c_str())};
    for (const auto& a : command.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    _exit(127);
  });
}

// A started child (Start, StartCommand) beside the harness. Destroying one
// that still runs kills it.
class LiveProcess {
 public:
  explicit LiveProcess(pid_t pid) : pid_(pid) {}
  ~LiveProcess() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    Wait();
  }
  LiveProcess(const LiveProcess&) = delete;
  LiveProcess& operator=(const LiveProcess&) = delete;

  // The exit status, or -1 when it did not exit normally.
  int Wait() {
    if (pid_ > 0) {
      int raw = 0;
      pid_t got = -1;
      while ((got = ::waitpid(pid_, &raw, 0)) < 0 && errno == EINTR) {
      }
      status_ = got == pid_ && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      pid_ = -1;
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Waits a millisecond at a time until `done` or `limit_ms` passed; true when
// `done` came. The limit only keeps a stuck run from hanging the harness.
inline bool WaitUntil(const std::function<bool()>& done, int limit_ms) {
  for (int waited = 0; waited < limit_ms; ++waited, ::usleep(1000))
    if (done()) return true;
  return done();
}

// Whether the call whose number and arguments these are changes a file:
// writes, flushes, truncates, renames, links, unlinks or creates a file or
// folder, or changes its mode. Standard output and error carry messages only.
inline bool ChangesAFile(std::uint64_t nr, const std::uint64_t* args) {
  static const std::set<std::uint64_t> kWrites = {SYS_write, SYS_pwrite64, SYS_writev, SYS_pwritev,
                                                  SYS_pwritev2};
  static const std::set<std::uint64_t> kChanges = {
      SYS_fsync,           SYS_fdatasync, SYS_sync_file_range, SYS_ftruncate, SYS_fallocate,
      SYS_copy_file_range, SYS_sendfile,  SYS_renameat,        SYS_renameat2, SYS_unlinkat,
      SYS_mkdirat,         SYS_linkat,    SYS_symlinkat,       SYS_fchmod,    SYS_fchmodat};
  if (kWrites.contains(nr)) return args[0] > 2;
  if (nr == SYS_openat) return (args[2] & (O_CREAT | O_TRUNC)) != 0;
#ifdef SYS_open  // the older calls, where the architecture has them
  static const std::set<std::uint64_t> kOlder = {SYS_creat,   SYS_rename, SYS_unlink,
                                                 SYS_mkdir,   SYS_rmdir,  SYS_link,
                                                 SYS_symlink, SYS_chmod,  SYS_truncate};
  if (nr == SYS_open) return (args[1] & (O_CREAT | O_TRUNC)) != 0;
  if (kOlder.contains(nr)) return true;
#endif
  return kChanges.contains(nr);
}

struct TracedRun {
  bool killed = false;   // stopped by the harness before call `kill_at`
  int exit_status = -1;  // the program's exit status when it ran to its end
  int file_changes = 0;  // file-changing calls entered in any thread (not the one killed)
};

// Runs `command` under ptrace to its end, or kills it with SIGKILL before
// file-changing call `kill_at` (1-based; 0 never kills). Throws when the
// program cannot be started or traced.
inline TracedRun RunTraced(const Command& command, int kill_at) {
  const pid_t main = StartCommand(command, "/dev/null", true);
  const auto resume = [](pid_t pid, int signal) {  // ESRCH: the thread died meanwhile
    if (::ptrace(PTRACE_SYSCALL, pid, nullptr, signal) != 0 && errno != ESRCH) Fail("resume");
  };
  TracedRun run;
  int status = 0;
  if (::waitpid(main, &status, 0) != main || !WIFSTOPPED(status)) Fail("start");
  const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACECLONE;
  if (::ptrace(PTRACE_SETOPTIONS, main, nullptr, options) != 0) Fail("PTRACE_SETOPTIONS");
  resume(main, 0);
  for (;;) {
    const pid_t pid = ::waitpid(-1, &status, __WALL);
    if (pid < 0 && errno == EINTR) continue;
    if (pid < 0 && errno == ECHILD) break;
    if (pid < 0) Fail("waitpid");
    if (WIFEXITED(status) && pid == main) run.exit_status = WEXITSTATUS(status);
    if (WIFEXITED(status) || WIFSIGNALED(status) || run.killed) continue;  // nothing to resume
    const int signal = WSTOPSIG(status);
    if (signal != (SIGTRAP | 0x80)) {
      // Event stops, and the first stop of each new thread, carry no signal for it.
      const bool event = (status >> 16) != 0;
      resume(pid, event || signal == SIGSTOP || signal == SIGTRAP ? 0 : signal);
      continue;
    }
    __ptrace_syscall_info info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0) Fail("syscall info");
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY && ChangesAFile(info.entry.nr, info.entry.args) &&
        ++run.file_changes == kill_at) {
      --run.file_changes;
      run.killed = true;
      ::kill(main, SIGKILL);
      continue;
    }
    resume(pid, 0);
  }
  if (!run.killed && run.exit_status >= 126)
    throw std::runtime_error("campaign harness: cannot run " + command.program);
  return run;
}

// `count` points spread evenly over 1..total, first and last included, each
// once; all of 1..total when total <= count.
inline std::vector<int> SpreadPoints(int total, int count) {
  std::vector<int> points;
  for (int i = 0; i < std::min(total, count); ++i)
    points.push_back(total <= count ? i + 1
                     : count == 1
                         ? total
                         : 1 + static_cast<int>(std::int64_t{i} * (total - 1) / (count - 1)));
  return points;
}

}  // namespace campaigns
