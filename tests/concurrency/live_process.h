// Programs started side by side: each runs in its own process while the
// harness goes on, so that runs and clients of one database overlap.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace concurrency {

struct Command {
  std::string program;
  std::vector<std::string> args;           // argv[1...]
  std::map<std::string, std::string> env;  // added to the harness's own environment
};

// A started process; standard output and error go to the files given.
// Destroying one that still runs kills it and waits for it.
class LiveProcess {
 public:
  LiveProcess(const Command& command, const std::string& out_file, const std::string& err_file);
  ~LiveProcess();
  LiveProcess(const LiveProcess&) = delete;
  LiveProcess& operator=(const LiveProcess&) = delete;

  // Waits for the end; the exit status, or -1 when it did not exit normally.
  int Wait();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Waits, sleeping a millisecond at a time, until `done` or `limit_ms` have
// passed; true when `done` came. The limit only keeps a stuck run from
// hanging the harness; nothing is measured by it.
bool WaitUntil(const std::function<bool()>& done, int limit_ms);

}  // namespace concurrency
