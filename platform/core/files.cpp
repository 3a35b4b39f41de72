#include "platform/core/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "platform/core/error.h"
#include "platform/core/unique_fd.h"

namespace platform {

namespace {

[[noreturn]] void ThrowErrno(const std::string& operation, const std::string& path) {
  throw ErrorFromErrno(errno, operation, path);
}

UniqueFd OpenOrThrow(const std::string& path, int flags, mode_t mode = 0666) {
  UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC, mode));
  if (!fd.valid()) ThrowErrno("open", path);
  return fd;
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("write", path);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Hands `consume` the file's bytes from its current offset, chunk by chunk,
// until the end of the file or until `limit` bytes have gone.
template <typename Consume>
void ReadChunks(int fd, const std::string& path, Consume consume,
                std::size_t limit = std::numeric_limits<std::size_t>::max()) {
  char buf[1 << 16];
  while (limit > 0) {
    const ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("read", path);
    }
    if (n == 0) return;
    limit -= static_cast<std::size_t>(n);
    consume(std::string_view(buf, static_cast<std::size_t>(n)));
  }
}

void FsyncOrThrow(int fd, const std::string& path) {
  if (::fsync(fd) != 0) ThrowErrno("fsync", path);
}

std::string KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// A FIFO blocks every read and a device never ends, so a file the programs
// read, copy or append to must be a regular file. Checked on the descriptor
// itself (opened O_NONBLOCK, so that opening a FIFO cannot block), never on
// the name, which may be swapped between a check and an open.
Error NotARegularFile(const std::string& path, mode_t mode) {
  return Error(err::kDeviceIoError)
      .AddDetail("file", path)
      .AddDetail("system", "not a regular file: " + KindOf(mode));
}

void RequireRegularFile(int fd, const std::string& path) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) ThrowErrno("stat", path);
  if (!S_ISREG(st.st_mode)) throw NotARegularFile(path, st.st_mode);
}

// A link is followed on purpose, so that a file kept elsewhere is replaced
// where it lies, but only to a regular file: renaming over what a link to
// /dev/zero or a FIFO leads to would put our bytes in the place of another
// program's special file.
void RequireRegularLinkTarget(const std::string& link, const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw NotARegularFile(link, st.st_mode).AddDetail("link to", target);
  }
}

// The file a symbolic link at `path` resolves to; `path` itself when it is
// no link (or a dangling one, which is replaced as a file would be).
std::string LinkTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

// `path` opened non-blocking, refused unless a regular file, and switched
// back to blocking I/O.
UniqueFd OpenRegularFile(const std::string& path, int flags) {
  UniqueFd fd = OpenOrThrow(path, flags | O_NONBLOCK | O_NOCTTY);
  RequireRegularFile(fd.get(), path);
  const int status = ::fcntl(fd.get(), F_GETFL);
  if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
    ThrowErrno("fcntl", path);
  }
  return fd;
}

// The one temporary name of `path`'s replacements. It is fixed, so that the
// leftover of a replacement killed half-way is taken over by the next one
// instead of lying beside the file for good.
std::string TemporaryNameBeside(const std::string& path) {
  return FolderOf(path) + "/." + FileNameOf(path) + ".tmp";
}

// The temporary name is in a folder that others may write, so whatever lies
// there is not trusted: a symbolic link, a FIFO, a hard link to another file
// or a file someone else holds open would make us write where we must not.
// The file we write is always one we created ourselves (O_EXCL, no link
// followed); a leftover is removed first. Removing one needs its flock, so a
// replacement in progress is waited for instead (the lock of a killed one
// dies with it).
void RemoveLeftoverTemporary(const std::string& temp, const std::string& path) {
  UniqueFd fd(::open(temp.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) return;
    if (errno != ELOOP) ThrowErrno("open", path);
  } else {
    while (::flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) ThrowErrno("lock", path);
    }
  }
  if (::unlink(temp.c_str()) != 0 && errno != ENOENT) ThrowErrno("unlink", path);
}

// Creates the temporary file `temp` of `path`, holding an exclusive flock on
// it for as long as the descriptor lives: a second replacement of the same
// file waits for the first. The name is checked to still be the file we
// locked: another replacement may have removed it as a leftover between our
// create and our lock. Failures name `path`, the file being replaced.
UniqueFd OpenTemporary(const std::string& temp, const std::string& path) {
  for (;;) {
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) {
      if (errno != EEXIST) ThrowErrno("create", path);
      RemoveLeftoverTemporary(temp, path);
      continue;
    }
    while (::flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) ThrowErrno("lock", path);
    }
    struct stat held {
    }, named{};
    if (::fstat(fd.get(), &held) != 0) ThrowErrno("stat", path);
    if (::lstat(temp.c_str(), &named) == 0 && named.st_ino == held.st_ino &&
        named.st_dev == held.st_dev) {
      return fd;
    }
  }
}

// Writes a file under a temporary name beside `path` with the content that
// `fill` writes to the descriptor, then renames it over `path`. The rename
// comes before the close, while the temporary file's lock is still held, so
// that a waiting replacement cannot take over a file that is about to become
// `path`. Failures name `path`, which `fill` gets for its own: the temporary
// file is gone after a failure, and its name would send the operator looking
// for a file that does not exist.
template <typename Fill>
void ReplaceAtomically(const std::string& path, Fill fill) {
  struct stat old_stat {};
  const bool had_old = ::stat(path.c_str(), &old_stat) == 0;
  const std::string temp = TemporaryNameBeside(path);
  UniqueFd fd = OpenTemporary(temp, path);
  try {
    fill(fd.get(), path);
    if (had_old) {
      (void)::fchown(fd.get(), old_stat.st_uid, old_stat.st_gid);
      if (::fchmod(fd.get(), old_stat.st_mode & 07777) != 0) ThrowErrno("chmod", path);
    }
    FsyncOrThrow(fd.get(), path);
    if (::rename(temp.c_str(), path.c_str()) != 0) ThrowErrno("rename", path);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  if (fd.Close() != 0) ThrowErrno("close", path);
  SyncFolderOf(path);
}

}  // namespace

std::string SystemPath(std::string_view fixed_path) {
  std::string rest(fixed_path);
  std::string drive;
  if (rest.size() >= 3 && (rest[0] == 'C' || rest[0] == 'c') && rest[1] == ':' && rest[2] == '\\') {
    rest = rest.substr(3);
    const char* env = std::getenv("SYSTEM_DRIVE");
    drive = (env && *env) ? env : "/";
    if (drive.back() != '/') drive += '/';
  }
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  return drive + rest;
}

std::string ProgramFolder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) ThrowErrno("readlink", "/proc/self/exe");
  return FolderOf(std::string(buf, static_cast<std::size_t>(n)));
}

std::string ProgramBaseName() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) ThrowErrno("readlink", "/proc/self/exe");
  const std::string name = FileNameOf(std::string(buf, static_cast<std::size_t>(n)));
  const auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool EntryExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsReadOnly(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

void CopyFileOver(const std::string& source, const std::string& destination) {
  UniqueFd in = OpenForReading(source);
  ReplaceAtomically(destination, [&](int out, const std::string& shown) {
    ReadChunks(in.get(), source, [&](std::string_view chunk) { WriteAll(out, chunk, shown); });
  });
}

// A forced delete asks nothing of the file, so that a dangling link planted
// at the name goes too; a plain one reads the mode of what the name leads to.
void DeleteFile(const std::string& path, bool force) {
  struct stat st {};
  if (!force && ::stat(path.c_str(), &st) != 0) ThrowErrno("stat", path);
  if (!force && (st.st_mode & S_IWUSR) == 0) {
    throw Error(err::kPermissionDenied)
        .AddDetail("file", path)
        .AddDetail("system", "the file is read-only");
  }
  if (::unlink(path.c_str()) != 0) ThrowErrno("unlink", path);
  SyncFolderOf(path);
}

void CreateEmptyFile(const std::string& path) {
  if (IsReadOnly(path)) {
    throw Error(err::kPermissionDenied)
        .AddDetail("file", path)
        .AddDetail("system", "the file is read-only");
  }
  // The file is made at the name itself: a symbolic link planted there
  // (dangling ones included, which would create a file wherever they point)
  // or a special file is removed first, never followed or opened.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && ::unlink(path.c_str()) != 0) {
    ThrowErrno("unlink", path);
  }
  UniqueFd fd = OpenOrThrow(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK);
  FsyncOrThrow(fd.get(), path);
  if (fd.Close() != 0) ThrowErrno("close", path);
  SyncFolderOf(path);
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string target = LinkTarget(path);
  if (target != path) RequireRegularLinkTarget(path, target);
  ReplaceAtomically(target,
                    [&](int out, const std::string& shown) { WriteAll(out, bytes, shown); });
}

UniqueFd OpenForReading(const std::string& path) {
  return OpenRegularFile(path, O_RDONLY);
}

std::uint64_t SizeOf(const UniqueFd& fd, const std::string& path) {
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) ThrowErrno("stat", path);
  return static_cast<std::uint64_t>(st.st_size);
}

void ReadUpTo(const UniqueFd& fd, const std::string& path, std::size_t limit, std::string& out) {
  ReadChunks(
      fd.get(), path, [&](std::string_view chunk) { out.append(chunk); }, limit);
}

std::string ReadWholeFile(const std::string& path) {
  const UniqueFd fd = OpenForReading(path);
  std::string out;
  // Sized from the start, so that a large file is not copied and doubled
  // on its way in; a file that grows meanwhile is still read whole.
  out.reserve(static_cast<std::size_t>(SizeOf(fd, path)));
  ReadChunks(fd.get(), path, [&](std::string_view chunk) { out.append(chunk); });
  return out;
}

void AppendToFile(const std::string& path, std::string_view bytes) {
  if (IsReadOnly(path)) {
    throw Error(err::kPermissionDenied)
        .AddDetail("file", path)
        .AddDetail("system", "the file is read-only");
  }
  const bool created = !FileExists(path);
  // Never through a link: lines appended there would land in whatever file
  // it names, and a dangling one would create that file.
  UniqueFd fd = OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW);
  const ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
  if (n < 0) ThrowErrno("write", path);
  if (static_cast<std::size_t>(n) != bytes.size()) {
    throw Error(err::kDiskFull).AddDetail("file", path).AddDetail("system", "short write");
  }
  FsyncOrThrow(fd.get(), path);
  if (fd.Close() != 0) ThrowErrno("close", path);
  if (created) SyncFolderOf(path);
}

void SetAttributesNormal(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) ThrowErrno("stat", path);
  if (::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) ThrowErrno("chmod", path);
}

void SyncFile(const std::string& path) {
  UniqueFd fd = OpenOrThrow(path, O_RDONLY);
  FsyncOrThrow(fd.get(), path);
}

void SyncFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  UniqueFd fd = OpenOrThrow(folder, O_RDONLY | O_DIRECTORY);
  FsyncOrThrow(fd.get(), folder);
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace platform
