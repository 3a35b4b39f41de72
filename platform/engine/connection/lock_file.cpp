#include "platform/engine/connection/lock_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/unique_fd.h"

namespace platform::engine::internal {

namespace {

struct Held {
  UniqueFd fd;
  int connections = 0;
};

// The lock files this process holds, by canonical lock file path.
struct Registry {
  std::mutex mutex;
  std::map<std::string, Held> held;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // lives to the end, also past static destructors
  return *registry;
}

// The lock file path with its folder resolved, so that two spellings of one
// database share one entry.
std::string CanonicalLockPath(const std::string& database_path) {
  const std::string lock = LockFilePath(database_path);
  char resolved[PATH_MAX];
  if (::realpath(FolderOf(lock).c_str(), resolved) == nullptr) {
    throw ErrorFromErrno(errno, "resolve folder", FolderOf(lock));
  }
  return std::string(resolved) + "/" + FileNameOf(lock);
}

bool SetLock(int fd, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  return ::fcntl(fd, F_SETLK, &lock) == 0;
}

// True when another process holds a lock on byte 0.
bool OtherHolder(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  if (::fcntl(fd, F_GETLK, &lock) != 0) return true;
  return lock.l_type != F_UNLCK;
}

// The descriptor still names the file at `path` (a last closer elsewhere
// may have removed it between our open and our lock).
bool StillLinked(int fd, const std::string& path) {
  struct stat by_fd = {}, by_path = {};
  return ::fstat(fd, &by_fd) == 0 && ::stat(path.c_str(), &by_path) == 0 &&
         by_fd.st_ino == by_path.st_ino && by_fd.st_dev == by_path.st_dev;
}

// Opens (creating when missing) and share-locks the lock file. A process
// that is removing it holds it exclusively for a moment: retry.
UniqueFd OpenShared(const std::string& path) {
  for (int attempt = 0;; ++attempt) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd.valid()) throw ErrorFromErrno(errno, "open lock file", path);
    if (SetLock(fd.get(), F_RDLCK)) {
      if (StillLinked(fd.get(), path)) return fd;
    } else if (errno != EAGAIN && errno != EACCES) {
      throw ErrorFromErrno(errno, "lock lock file", path);
    }
    if (attempt > 500) throw ErrorFromErrno(EAGAIN, "lock lock file", path);
    ::usleep(10000);
  }
}

// Removes the lock file when the process can take it exclusively: no other
// process holds it. The descriptor is closed either way.
void RemoveIfLast(UniqueFd fd, const std::string& path) {
  if (SetLock(fd.get(), F_WRLCK) && StillLinked(fd.get(), path)) ::unlink(path.c_str());
  fd.Reset();
}

}  // namespace

std::string LockFilePath(const std::string& database_path) {
  const std::string name = FileNameOf(database_path);
  const std::size_t dot = name.rfind('.');
  const std::string base = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  return FolderOf(database_path) + "/" + base + ".ldb";
}

LockFileShare::LockFileShare(const std::string& database_path)
    : key_(CanonicalLockPath(database_path)) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.mutex);
  Held& held = registry.held[key_];
  if (held.connections == 0) {
    try {
      held.fd = OpenShared(key_);
    } catch (...) {
      registry.held.erase(key_);
      throw;
    }
  }
  ++held.connections;
}

LockFileShare::~LockFileShare() {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.mutex);
  auto it = registry.held.find(key_);
  if (it == registry.held.end() || --it->second.connections > 0) return;
  UniqueFd fd = std::move(it->second.fd);
  registry.held.erase(it);
  RemoveIfLast(std::move(fd), key_);
}

LockState ProbeLock(const std::string& database_path) {
  const std::string path = CanonicalLockPath(database_path);
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.mutex);
  if (registry.held.count(path) != 0) return LockState::kHeld;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) return LockState::kNone;
    throw ErrorFromErrno(errno, "open lock file", path);
  }
  return OtherHolder(fd.get()) ? LockState::kHeld : LockState::kStale;
}

void RemoveStaleLock(const std::string& database_path) {
  const std::string path = CanonicalLockPath(database_path);
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.mutex);
  if (registry.held.count(path) != 0) return;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.valid()) return;
  RemoveIfLast(std::move(fd), path);
}

}  // namespace platform::engine::internal
