// The operating system side of the tests: folders, files, processes and mounts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/scoped_mount.h"

extern char** environ;

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() : path_(fs::temp_directory_path() / "cvtest.XXXXXX") {  // under $TMPDIR
  if (!::mkdtemp(path_.data())) std::abort();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Write bits back first, so that read-only fixtures go too; never through a link (/dev/zero).
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::Sub(const std::string& relative, bool make_parents) const {
  const std::string full = path_ + "/" + relative;
  if (make_parents) MakeFolders(fs::path(full).parent_path().string());
  return full;
}

void MakeFolders(const std::string& path) {
  fs::create_directories(path);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

int IntSetting(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoi(value) : fallback;
}

bool Exists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void ChmodFile(const std::string& path, unsigned mode) {
  ::chmod(path.c_str(), mode);
}

std::vector<std::string> TemporaryFilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tmp") != std::string::npos) names.push_back(name);
  }
  return names;
}

std::string SourceDir() {
  return PROJECT_SOURCE_DIR;
}

std::string ExampleFile(const std::string& name) {
  return ReadFile(SourceDir() + "/examples/" + name);
}

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

namespace {

// Runs `change`, a mount or an unmount over `folder`; when it succeeds, the folder's regular
// files are then what they were before it, modes kept.
template <typename Change>
bool KeepingFiles(const std::string& folder, Change change) {
  std::vector<std::tuple<fs::path, std::string, fs::perms>> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files.emplace_back(entry.path(), ReadFile(entry.path()), entry.status().permissions());
    }
  }
  if (!change()) return false;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) fs::remove(entry.path());
  }
  for (const auto& [path, bytes, perms] : files) {
    WriteFile(path, bytes);
    fs::permissions(path, perms);
  }
  return true;
}

}  // namespace

ScopedMount ScopedMount::SmallDisk(const std::string& folder, std::size_t free_bytes) {
  ScopedMount mount;
  MakeFolders(folder);
  // Room for the files first; the remount then shrinks the disk to what they take (whole
  // pages) plus `free_bytes`.
  if (!KeepingFiles(
          folder, [&] { return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256m") == 0; })) {
    mount.failure_ = "tmpfs on " + folder + ": " + std::strerror(errno);
    return mount;
  }
  mount.path_ = folder;
  mount.carry_files_back_ = true;
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0 ||
      ::mount("tmpfs", folder.c_str(), "tmpfs", MS_REMOUNT,
              ("size=" + std::to_string((st.f_blocks - st.f_bfree) * st.f_frsize + free_bytes))
                  .c_str()) != 0) {
    ADD_FAILURE() << "cannot shrink the tmpfs on " << folder << ": " << std::strerror(errno);
  }
  return mount;
}

ScopedMount ScopedMount::ReadOnly(const std::string& path) {
  ScopedMount mount;
  if (::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    mount.failure_ = "bind " + path + ": " + std::strerror(errno);
  } else if (::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                     nullptr) != 0) {  // a bind mount takes the read-only flag only on a remount
    mount.failure_ = "remount read-only " + path + ": " + std::strerror(errno);
    ::umount2(path.c_str(), MNT_DETACH);
  } else {
    mount.path_ = path;
  }
  return mount;
}

ScopedMount::ScopedMount(ScopedMount&& other) noexcept
    : path_(std::exchange(other.path_, {})),
      failure_(std::move(other.failure_)),
      carry_files_back_(other.carry_files_back_) {}

ScopedMount::~ScopedMount() {
  if (path_.empty()) return;
  // A process of the test that still holds a file there must not keep the mount for the
  // rest of the suite.
  const auto unmount = [&] {
    if (::umount2(path_.c_str(), 0) != 0) ::umount2(path_.c_str(), MNT_DETACH);
    return true;
  };
  carry_files_back_ ? KeepingFiles(path_, unmount) : unmount();
}

}  // namespace testing_support
