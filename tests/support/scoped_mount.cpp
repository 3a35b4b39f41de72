#include "tests/support/scoped_mount.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "tests/support/files.h"

namespace testing_support {

namespace fs = std::filesystem;

namespace {

struct SavedFile {
  std::string name;
  std::string bytes;
  fs::perms perms;
};

std::vector<SavedFile> SaveFiles(const std::string& folder) {
  std::vector<SavedFile> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    files.push_back({entry.path().filename().string(), ReadFile(entry.path().string()),
                     entry.status().permissions()});
  }
  return files;
}

// Puts `files` in place of the regular files that `folder` holds.
void RestoreFiles(const std::string& folder, const std::vector<SavedFile>& files) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) fs::remove(entry.path());
  }
  for (const SavedFile& file : files) {
    const std::string path = folder + "/" + file.name;
    WriteFile(path, file.bytes);
    fs::permissions(path, file.perms);
  }
}

std::string SizeOption(std::size_t bytes) {
  return "size=" + std::to_string(bytes);
}

}  // namespace

ScopedMount ScopedMount::SmallDisk(const std::string& folder, std::size_t free_bytes) {
  ScopedMount mount;
  MakeFolders(folder);
  const std::vector<SavedFile> files = SaveFiles(folder);
  // Room for the files first; the remount then shrinks the disk to what
  // they take (whole pages) plus `free_bytes`.
  if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, SizeOption(std::size_t{1} << 28).c_str()) != 0) {
    mount.Fail("tmpfs on " + folder);
    return mount;
  }
  mount.path_ = folder;
  mount.carry_files_back_ = true;
  RestoreFiles(folder, files);
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0 ||
      ::mount("tmpfs", folder.c_str(), "tmpfs", MS_REMOUNT,
              SizeOption((st.f_blocks - st.f_bfree) * st.f_frsize + free_bytes).c_str()) != 0) {
    ADD_FAILURE() << "cannot shrink the tmpfs on " << folder << ": " << std::strerror(errno);
  }
  return mount;
}

ScopedMount ScopedMount::ReadOnly(const std::string& path) {
  ScopedMount mount;
  if (::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    mount.Fail("bind " + path);
    return mount;
  }
  mount.path_ = path;
  // A bind mount takes the read-only flag only on a remount.
  if (::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    mount.Fail("remount read-only " + path);
    ::umount2(path.c_str(), MNT_DETACH);
    mount.path_.clear();
  }
  return mount;
}

ScopedMount::ScopedMount(ScopedMount&& other) noexcept
    : path_(std::exchange(other.path_, {})),
      failure_(std::move(other.failure_)),
      carry_files_back_(other.carry_files_back_) {}

ScopedMount::~ScopedMount() {
  if (path_.empty()) return;
  std::vector<SavedFile> files;
  if (carry_files_back_) files = SaveFiles(path_);
  // A process of the test that still holds a file there must not keep the
  // mount for the rest of the suite.
  if (::umount2(path_.c_str(), 0) != 0) ::umount2(path_.c_str(), MNT_DETACH);
  if (carry_files_back_) RestoreFiles(path_, files);
}

void ScopedMount::Fail(const std::string& what) {
  failure_ = what + ": " + std::strerror(errno);
}

}  // namespace testing_support
