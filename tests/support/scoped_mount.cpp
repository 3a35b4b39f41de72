// Small and read-only file systems mounted over a test's folders.
#include "tests/support/scoped_mount.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/files.h"

namespace testing_support {

namespace fs = std::filesystem;

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
