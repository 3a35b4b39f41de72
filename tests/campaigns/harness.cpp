#include "tests/campaigns/harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "tests/support/catalog.h"
#include "tests/support/databases.h"

namespace campaigns {

namespace fs = std::filesystem;
using testing_support::ReadFile;

Workstation::Workstation() {
  testing_support::MakeFolders(logs());
}

std::string Workstation::MakeFixture(const std::string& name, int tests,
                                     const std::string& more_sql) {
  testing_support::CreateAnalyserDatabase(
      Sub(name),
      testing_support::SampleDataSql() + testing_support::ExistingTestsSql(100, tests) + more_sql);
  return Sub(name);
}

void Workstation::MakeShell(const std::string& folder, const std::string& name) const {
  platform::engine::Database shell =
      platform::engine::Database::Create(folder + "/" + name + ".mdb");
  shell.Exec(testing_support::ExampleFile("analyser-schema.sql"));
  shell.Exec(testing_support::ExampleFile(name + ".sql"));
}

void Workstation::Reset(const std::string& fixture) const {
  for (const auto& folder : {databases(), logs()})
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
  for (const auto* name : {"CatalogSync", "Reshaper"}) fs::remove(marker(name));
  testing_support::CopyFile(fixture, database());
}

Command Workstation::CommandOf(const std::string& program, const std::string& args) const {
  return {program, {args}, {{"SYSTEM_DRIVE", drive()}}};
}

void WriteInstallPackage(const std::string& path, int assays, std::int32_t reagent_vol,
                         bool failing) {
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

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("campaign harness: " + what + ": " + std::strerror(errno));
}

// In a child: no standard input, output and error to the files given.
void Redirect(const std::string& out_file, const std::string& err_file) {
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
    _exit(126);
}

[[noreturn]] void Exec(const Command& command) {
  for (const auto& [name, value] : command.env) ::setenv(name.c_str(), value.c_str(), 1);
  std::vector<char*> argv{const_cast<char*>(command.program.c_str())};
  for (const auto& a : command.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  _exit(127);
}

// Forks a child that runs `in_child` and ends with _exit, never returning
// into the harness (no test code runs twice).
pid_t Start(const std::function<void()>& in_child) {
  const pid_t pid = ::fork();
  if (pid < 0) Fail("fork");
  if (pid > 0) return pid;
  try {
    in_child();
  } catch (...) {
    _exit(125);
  }
  _exit(0);
}

// Whether the call whose number and arguments these are changes a file.
bool ChangesAFile(std::uint64_t nr, const std::uint64_t* args) {
  static const std::set<std::uint64_t> kWrites = {SYS_write, SYS_pwrite64, SYS_writev, SYS_pwritev,
                                                  SYS_pwritev2};
  static const std::set<std::uint64_t> kChanges = {
      SYS_fsync,           SYS_fdatasync, SYS_sync_file_range, SYS_ftruncate, SYS_fallocate,
      SYS_copy_file_range, SYS_sendfile,  SYS_renameat,        SYS_renameat2, SYS_unlinkat,
      SYS_mkdirat,         SYS_linkat,    SYS_symlinkat,       SYS_fchmod,    SYS_fchmodat};
  if (kWrites.contains(nr)) return args[0] > 2;  // standard output and error: messages only
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

void Resume(pid_t pid, int signal) {
  // ESRCH: the thread died meanwhile (the group is being killed).
  if (::ptrace(PTRACE_SYSCALL, pid, nullptr, signal) != 0 && errno != ESRCH) Fail("PTRACE_SYSCALL");
}

}  // namespace

LiveProcess::LiveProcess(const Command& command, const std::string& out_file,
                         const std::string& err_file)
    : pid_(Start([&] {
        Redirect(out_file, err_file);
        Exec(command);
      })) {}

LiveProcess::LiveProcess(const std::function<void()>& work) : pid_(Start(work)) {}

LiveProcess::~LiveProcess() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
  Wait();
}

int LiveProcess::Wait() {
  if (pid_ > 0) {
    int raw = 0;
    pid_t got = -1;
    do got = ::waitpid(pid_, &raw, 0);
    while (got < 0 && errno == EINTR);
    status_ = got == pid_ && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    pid_ = -1;
  }
  return status_;
}

bool WaitUntil(const std::function<bool()>& done, int limit_ms) {
  for (int waited = 0; waited < limit_ms; ++waited, ::usleep(1000))
    if (done()) return true;
  return done();
}

TracedRun RunTraced(const Command& command, int kill_at) {
  const pid_t main = Start([&] {
    Redirect("/dev/null", "/dev/null");
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(126);
    Exec(command);
  });
  TracedRun run;
  int status = 0;
  if (::waitpid(main, &status, 0) != main || !WIFSTOPPED(status)) Fail("start");
  const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACECLONE;
  if (::ptrace(PTRACE_SETOPTIONS, main, nullptr, options) != 0) Fail("PTRACE_SETOPTIONS");
  Resume(main, 0);
  for (;;) {
    const pid_t pid = ::waitpid(-1, &status, __WALL);
    if (pid < 0 && errno == EINTR) continue;
    if (pid < 0 && errno == ECHILD) break;
    if (pid < 0) Fail("waitpid");
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      if (pid == main && WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
      continue;
    }
    if (run.killed) continue;  // SIGKILL ends every thread; nothing more to resume
    const int signal = WSTOPSIG(status);
    if (signal != (SIGTRAP | 0x80)) {
      // Event stops, and the first stop of each new thread, carry no signal for it.
      const bool event = (status >> 16) != 0;
      Resume(pid, event || signal == SIGSTOP || signal == SIGTRAP ? 0 : signal);
      continue;
    }
    __ptrace_syscall_info info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0) Fail("syscall info");
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY && ChangesAFile(info.entry.nr, info.entry.args)) {
      if (run.file_changes + 1 == kill_at) {
        run.killed = true;
        ::kill(main, SIGKILL);
        continue;
      }
      ++run.file_changes;
    }
    Resume(pid, 0);
  }
  if (!run.killed && run.exit_status >= 126) {
    errno = 0;
    Fail("cannot run " + command.program);
  }
  return run;
}

std::vector<int> SpreadPoints(int total, int count) {
  std::vector<int> points;
  for (int i = 0; i < std::min(total, count); ++i) {
    points.push_back(total <= count ? i + 1
                     : count == 1
                         ? total
                         : 1 + static_cast<int>(std::int64_t{i} * (total - 1) / (count - 1)));
  }
  return points;
}

}  // namespace campaigns
