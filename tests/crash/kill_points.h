// Runs a program under ptrace and kills it with SIGKILL just before its n-th
// file-changing system call, so that a crash can be placed at every point
// where the program's files could be left half-done.
//
// A file-changing call is one that writes, flushes, truncates, renames,
// links, unlinks or creates a file or folder, or changes its mode; writes to
// standard input, output and error are not counted (message boxes change no
// file). The count is over the whole process and every thread it starts.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace crash {

struct Command {
  std::string program;
  std::vector<std::string> args;           // argv[1...]
  std::map<std::string, std::string> env;  // added to the harness's own environment
};

struct TracedRun {
  bool killed = false;   // stopped by the harness before call `kill_at`
  int exit_status = -1;  // the program's exit status when it ran to its end
  int file_changes = 0;  // file-changing calls entered (not counting the one killed)
};

// Runs `command` to its end, or kills it before file-changing call `kill_at`
// (1-based; 0 never kills). Standard output and error go to /dev/null.
// Throws std::runtime_error when the program cannot be started or traced.
TracedRun RunTraced(const Command& command, int kill_at);

// `count` points spread evenly over 1..total, first and last included, each
// once; all of 1..total when total <= count.
std::vector<int> SpreadPoints(int total, int count);

}  // namespace crash
