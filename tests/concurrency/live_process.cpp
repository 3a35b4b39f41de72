#include "tests/concurrency/live_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace concurrency {

namespace {

// In the child: standard input from /dev/null, output and error to the files.
void RedirectOrDie(const std::string& out_file, const std::string& err_file) {
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
    _exit(127);
}

}  // namespace

LiveProcess::LiveProcess(const Command& command, const std::string& out_file,
                         const std::string& err_file) {
  std::vector<char*> argv{const_cast<char*>(command.program.c_str())};
  for (const auto& a : command.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("cannot start " + command.program);
  if (pid_ == 0) {
    RedirectOrDie(out_file, err_file);
    for (const auto& [name, value] : command.env) ::setenv(name.c_str(), value.c_str(), 1);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
}

LiveProcess::~LiveProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    Wait();
  }
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
  for (int waited = 0; waited < limit_ms; ++waited) {
    if (done()) return true;
    ::usleep(1000);
  }
  return done();
}

}  // namespace concurrency
