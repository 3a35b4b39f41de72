// The harness of the crash and concurrency campaigns: the workstation whose
// database is put back from a fixture before every run, and the one launcher
// of the programs beside testing_support::Run, side by side or traced.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <utility>

#include "tests/support/catalog.h"
#include "tests/support/databases.h"
#include "tests/support/sandbox.h"

namespace campaigns {

using namespace testing_support;

// A Sandbox with its Logs folder and the fixtures its runs start from.
class Workstation : public Sandbox {
 public:
  Workstation() { MakeFolders(logs()); }

  // The sample database grown by `tests` tests from test 100 on, then `more_sql`.
  std::string MakeFixture(const std::string& name, int tests, const std::string& more_sql = "") {
    CreateAnalyserDatabase(Sub(name), SampleDataSql() + ExistingTestsSql(100, tests) + more_sql);
    return Sub(name);
  }

  // The example shell `name` ("InstallShell", "ERUShell") in the program folder.
  void MakeShell(const std::string& name) const {
    auto shell = platform::engine::Database::Create(InProgram(name + ".mdb"));
    shell.Exec(ExampleFile("analyser-schema.sql"));
    shell.Exec(ExampleFile(name + ".sql"));
  }

  // The database from `fixture`, nothing beside it, no marker, no log: every
  // run from here makes the same file changes (a log's first line also syncs
  // its folder), so a kill point of one run is one of every run.
  void Reset(const std::string& fixture) const {
    for (const auto& folder : {databases(), logs()})
      for (const auto& entry : std::filesystem::directory_iterator(folder))
        std::filesystem::remove(entry.path());
    for (const auto* name : {"CatalogSync", "Reshaper"}) std::filesystem::remove(marker(name));
    CopyFile(fixture, database());
  }
};

// The package `path` of an INSTALL of `assays` assays from test 100 on: a
// quarter deleted by name, a quarter modified, the rest added (half of those
// over the fixture's tests). `failing` adds a last assay whose name is too
// long for Tests_Name: the run fails after the walk did all the others.
inline void WriteInstallPackage(const std::string& path, int assays, std::int32_t reagent_vol,
                                bool failing = false) {
  CatalogBuilder catalog;
  static const char* const kModes[] = {"DELETE", "MODIFY", "ADD", "ADD"};
  for (int i = 0; i < assays; ++i)
    catalog.Add(static_cast<std::int16_t>(100 + i), "T" + std::to_string(100 + i), kModes[i % 4],
                {reagent_vol, 40 * (i % 2), 0});
  if (failing) catalog.Add(41, "O'NEIL-PLUS", "ADD");
  catalog.WritePackage(path);
}

[[noreturn]] inline void Fail(const std::string& what) {
  throw std::runtime_error("campaign harness: " + what + ": " + std::strerror(errno));
}

// Forks a child that runs `in_child` and ends with _exit, never returning
// into the harness (no test code runs twice), and dies with the harness.
inline pid_t Start(const std::function<void()>& in_child) {
  const pid_t pid = ::fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) ::prctl(PR_SET_PDEATHSIG, SIGKILL), in_child(), _exit(0);
  return pid;
}

// The program `path` with the one argument `args` and SYSTEM_DRIVE `drive`:
// no standard input or output, standard error to `err`. `traced`: stopped at
// its start for RunTraced, and without LeakSanitizer, which cannot work in a
// traced process (it traces the process itself at exit).
inline pid_t StartProgram(const std::string& drive, const std::string& path, const char* args,
                          const std::string& err, bool traced = false) {
  return Start([&] {
    const int in = ::open("/dev/null", O_RDWR),
              out = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(in, 1) < 0 || ::dup2(out, 2) < 0 ||
        ::setenv("SYSTEM_DRIVE", drive.c_str(), 1) != 0 ||
        (traced && (::setenv("ASAN_OPTIONS", "detect_leaks=0", 1) != 0 ||
                    ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)))
      _exit(126);
    ::execl(path.c_str(), path.c_str(), args, nullptr);
    _exit(127);
  });
}

// The exit status of the started child `pid`, -1 when it did not exit normally.
inline int Wait(pid_t pid) {
  int raw = 0;
  return ::waitpid(pid, &raw, 0) == pid && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Whether the call whose number and arguments these are changes a file:
// writes, flushes, truncates, renames, links, unlinks or creates a file or
// folder, or changes its mode. Standard output and error carry messages only.
inline bool ChangesAFile(std::uint64_t nr, const std::uint64_t* args) {
  // clang-format off
  static const std::set<std::uint64_t> kWrites = {SYS_write, SYS_pwrite64, SYS_writev, SYS_pwritev,
                                                  SYS_pwritev2};
  static const std::set<std::uint64_t> kChanges = {
      SYS_fsync, SYS_fdatasync, SYS_sync_file_range, SYS_ftruncate, SYS_fallocate,
      SYS_copy_file_range, SYS_sendfile, SYS_renameat, SYS_renameat2, SYS_unlinkat, SYS_mkdirat,
      SYS_linkat, SYS_symlinkat, SYS_fchmod, SYS_fchmodat,
#ifdef SYS_open  // the older calls, where the architecture has them
      SYS_creat, SYS_rename, SYS_unlink, SYS_mkdir, SYS_rmdir, SYS_link, SYS_symlink, SYS_chmod,
      SYS_truncate,
#endif
  };
  // clang-format on
  if (kWrites.contains(nr)) return args[0] > 2;
  if (nr == SYS_openat) return (args[2] & (O_CREAT | O_TRUNC)) != 0;
#ifdef SYS_open
  if (nr == SYS_open) return (args[1] & (O_CREAT | O_TRUNC)) != 0;
#endif
  return kChanges.contains(nr);
}

struct TracedRun {
  bool killed = false;   // stopped by the harness before call `kill_at`
  int exit_status = -1;  // the program's exit status when it ran to its end
  int file_changes = 0;  // file-changing calls entered in any thread (not the one killed)
};

// Runs the program (as StartProgram) under ptrace to its end, or kills it with
// SIGKILL before file-changing call `kill_at` (1-based; 0 never kills).
// Throws when the program cannot be started or traced.
inline TracedRun RunTraced(const std::string& drive, const std::string& path, const char* args,
                           int kill_at) {
  const pid_t main = StartProgram(drive, path, args, "/dev/null", true);
  const auto resume = [](pid_t pid, int signal) {  // ESRCH: the thread died meanwhile
    if (::ptrace(PTRACE_SYSCALL, pid, nullptr, signal) != 0 && errno != ESRCH) Fail("resume");
  };
  TracedRun run;
  int status = 0;
  const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACECLONE;
  if (::waitpid(main, &status, 0) != main || !WIFSTOPPED(status) ||
      ::ptrace(PTRACE_SETOPTIONS, main, nullptr, options) != 0)
    Fail("start");
  for (resume(main, 0);;) {
    const pid_t pid = ::waitpid(-1, &status, __WALL);
    if (pid < 0 && errno == EINTR) continue;
    if (pid < 0 && errno == ECHILD) break;
    if (pid < 0) Fail("waitpid");
    if (WIFEXITED(status) && pid == main) run.exit_status = WEXITSTATUS(status);
    if (WIFEXITED(status) || WIFSIGNALED(status) || run.killed) continue;  // nothing to resume
    const int signal = WSTOPSIG(status);
    if (signal != (SIGTRAP | 0x80)) {
      // Event stops, and the first stop of each new thread, carry no signal for it.
      resume(pid, (status >> 16) != 0 || signal == SIGSTOP || signal == SIGTRAP ? 0 : signal);
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
    throw std::runtime_error("campaign harness: cannot run " + path);
  return run;
}

}  // namespace campaigns
