#include "tests/crash/kill_points.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace crash {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("kill points: " + what + ": " + std::strerror(errno));
}

bool OpensForChange(std::uint64_t flags) {
  return (flags & (O_CREAT | O_TRUNC)) != 0;
}

// Whether the call whose number and arguments these are changes a file.
bool ChangesAFile(std::uint64_t nr, const std::uint64_t* args) {
  switch (nr) {
    case SYS_write:
    case SYS_pwrite64:
    case SYS_writev:
    case SYS_pwritev:
    case SYS_pwritev2: return args[0] > 2;  // standard output and error carry messages only
    case SYS_openat: return OpensForChange(args[2]);
#ifdef SYS_open
    case SYS_open: return OpensForChange(args[1]);
    case SYS_creat:
    case SYS_rename:
    case SYS_unlink:
    case SYS_mkdir:
    case SYS_rmdir:
    case SYS_link:
    case SYS_symlink:
    case SYS_chmod:
    case SYS_truncate:
#endif
    case SYS_fsync:
    case SYS_fdatasync:
    case SYS_sync_file_range:
    case SYS_ftruncate:
    case SYS_fallocate:
    case SYS_copy_file_range:
    case SYS_sendfile:
    case SYS_renameat:
    case SYS_renameat2:
    case SYS_unlinkat:
    case SYS_mkdirat:
    case SYS_linkat:
    case SYS_symlinkat:
    case SYS_fchmod:
    case SYS_fchmodat: return true;
    default: return false;
  }
}

[[noreturn]] void StartTracee(const Command& command) {
  const int null = ::open("/dev/null", O_RDWR);
  if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0) _exit(126);
  for (const auto& [name, value] : command.env) ::setenv(name.c_str(), value.c_str(), 1);
  std::vector<char*> argv{const_cast<char*>(command.program.c_str())};
  for (const auto& a : command.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(126);
  ::execv(command.program.c_str(), argv.data());
  _exit(127);
}

// Follows one traced process (and its threads) to its end.
class Tracer {
 public:
  Tracer(pid_t pid, int kill_at) : pid_(pid), kill_at_(kill_at) {}

  TracedRun Follow() {
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_ || !WIFSTOPPED(status)) Fail("start");
    const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACECLONE;
    if (::ptrace(PTRACE_SETOPTIONS, pid_, nullptr, options) != 0) Fail("PTRACE_SETOPTIONS");
    Resume(pid_, 0);
    for (;;) {
      const pid_t pid = ::waitpid(-1, &status, __WALL);
      if (pid < 0) {
        if (errno == EINTR) continue;
        if (errno == ECHILD) return run_;
        Fail("waitpid");
      }
      if (WIFEXITED(status) || WIFSIGNALED(status)) {
        if (pid == pid_ && WIFEXITED(status)) run_.exit_status = WEXITSTATUS(status);
        continue;
      }
      OnStop(pid, status);
    }
  }

 private:
  void Resume(pid_t pid, int signal) {
    // ESRCH: the thread died meanwhile (the group is being killed).
    if (::ptrace(PTRACE_SYSCALL, pid, nullptr, signal) != 0 && errno != ESRCH)
      Fail("PTRACE_SYSCALL");
  }

  void OnStop(pid_t pid, int status) {
    if (run_.killed) return;  // SIGKILL ends every thread; nothing more to resume
    const int signal = WSTOPSIG(status);
    if (signal == (SIGTRAP | 0x80)) return OnSyscall(pid);
    // Event stops, and the first stop of each new thread, carry no signal for it.
    const bool event = (status >> 16) != 0;
    Resume(pid, event || signal == SIGSTOP || signal == SIGTRAP ? 0 : signal);
  }

  void OnSyscall(pid_t pid) {
    __ptrace_syscall_info info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0) Fail("syscall info");
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY && ChangesAFile(info.entry.nr, info.entry.args)) {
      if (run_.file_changes + 1 == kill_at_) {
        run_.killed = true;
        ::kill(pid_, SIGKILL);
        return;
      }
      ++run_.file_changes;
    }
    Resume(pid, 0);
  }

  pid_t pid_;
  int kill_at_;
  TracedRun run_;
};

}  // namespace

TracedRun RunTraced(const Command& command, int kill_at) {
  const pid_t pid = ::fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) StartTracee(command);
  TracedRun run = Tracer(pid, kill_at).Follow();
  if (!run.killed && run.exit_status >= 126) {
    errno = 0;
    throw std::runtime_error("kill points: cannot run " + command.program);
  }
  return run;
}

std::vector<int> SpreadPoints(int total, int count) {
  std::vector<int> points;
  if (total <= count) {
    for (int i = 1; i <= total; ++i) points.push_back(i);
    return points;
  }
  if (count == 1) return {total};
  for (int i = 0; i < count; ++i) {
    points.push_back(1 + static_cast<int>(std::int64_t{i} * (total - 1) / (count - 1)));
  }
  return points;
}

}  // namespace crash
