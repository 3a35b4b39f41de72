// The one harness of the crash and concurrency campaigns: the workstation
// whose database is put back from a fixture before every run, and the two
// launchers they need beside testing_support::Run: a run under ptrace killed
// before its n-th file-changing call, and processes started side by side.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

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
  Workstation();
  // The fixture `name`: the sample database grown by `tests` tests from
  // test 100 on, then `more_sql`. Returns its path.
  std::string MakeFixture(const std::string& name, int tests, const std::string& more_sql = "");
  // The example shell `name` ("InstallShell", "ERUShell") in `folder`.
  void MakeShell(const std::string& folder, const std::string& name) const;
  // The database from `fixture`, nothing beside it, no marker, no log: every
  // run from here makes the same file changes (a log's first line also syncs
  // its folder), so a kill point of one run is one of every run.
  void Reset(const std::string& fixture) const;
  Command CommandOf(const std::string& program, const std::string& args) const;
};

// The package `path` of an INSTALL of `assays` assays from test 100 on: a
// quarter deleted by name, a quarter modified, the rest added (half of those
// over the fixture's tests). `failing` adds a last assay whose name is too
// long for Tests_Name: the run fails after the walk did all the others.
void WriteInstallPackage(const std::string& path, int assays, std::int32_t reagent_vol,
                         bool failing = false);

// A process beside the harness: `command` with standard output and error to
// the files given, or `work` in a forked child. Destroying one that still
// runs kills it and waits for it.
class LiveProcess {
 public:
  LiveProcess(const Command& command, const std::string& out_file, const std::string& err_file);
  explicit LiveProcess(const std::function<void()>& work);
  ~LiveProcess();
  LiveProcess(const LiveProcess&) = delete;
  LiveProcess& operator=(const LiveProcess&) = delete;
  int Wait();  // the exit status, or -1 when it did not exit normally

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Waits a millisecond at a time until `done` or `limit_ms` passed; true when
// `done` came. The limit only keeps a stuck run from hanging the harness.
bool WaitUntil(const std::function<bool()>& done, int limit_ms);

struct TracedRun {
  bool killed = false;   // stopped by the harness before call `kill_at`
  int exit_status = -1;  // the program's exit status when it ran to its end
  int file_changes = 0;  // file-changing calls entered (not counting the one killed)
};

// Runs `command` under ptrace to its end, or kills it with SIGKILL before
// file-changing call `kill_at` (1-based; 0 never kills): a call that writes,
// flushes, truncates, renames, links, unlinks or creates a file or folder or
// changes its mode, in any thread; writes to standard output and error (the
// messages) do not count. Output goes to /dev/null. Throws when the program
// cannot be started or traced.
TracedRun RunTraced(const Command& command, int kill_at);

// `count` points spread evenly over 1..total, first and last included, each
// once; all of 1..total when total <= count.
std::vector<int> SpreadPoints(int total, int count);

}  // namespace campaigns
