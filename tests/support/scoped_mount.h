// File systems mounted for one test, for faults that permission bits cannot make as root: a
// read-only place, a full disk. Mounting needs root (or a user namespace); where it fails, the
// test is skipped with the reason (SKIP_UNLESS_MOUNTED).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace testing_support {

class ScopedMount {
 public:
  // A tmpfs over `folder` with `free_bytes` free beyond the regular files it holds, which are
  // copied in (modes kept); on unmount the folder gets the files the tmpfs then held.
  static ScopedMount SmallDisk(const std::string& folder, std::size_t free_bytes);
  // `path` (folder or file) bound read-only onto itself: content in view, writes fail EROFS.
  static ScopedMount ReadOnly(const std::string& path);

  ScopedMount(ScopedMount&& other) noexcept;
  ~ScopedMount();  // unmounts, also when the test failed
  bool mounted() const { return !path_.empty(); }
  const std::string& failure() const { return failure_; }  // why the mount failed

 private:
  ScopedMount() = default;
  std::string path_;  // empty when not mounted
  std::string failure_;
  bool carry_files_back_ = false;
};

}  // namespace testing_support

// Skips the test when `mount` failed (the empty branch keeps a following `else` off the `if`).
#define SKIP_UNLESS_MOUNTED(mount) \
  if ((mount).mounted()) {         \
  } else                           \
    GTEST_SKIP() << "cannot mount: " << (mount).failure()
