// File systems mounted for one test, for faults that permission bits cannot
// make: the tests run as root, whom the kernel lets write anywhere, so a
// truly read-only place needs a read-only mount, and a real full disk needs
// a small tmpfs. Mounting needs root (or a user namespace); where it fails
// the test is skipped with the reason (SKIP_UNLESS_MOUNTED).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace testing_support {

class ScopedMount {
 public:
  // A tmpfs over `folder` with `free_bytes` left free beyond the regular
  // files it holds, which are copied in (modes kept): the test lays out its
  // files, then mounts the small disk under them. On unmount the folder gets
  // the files that the tmpfs held, so the test checks what a run left.
  static ScopedMount SmallDisk(const std::string& folder, std::size_t free_bytes);
  // `path`, a folder or a file, bound read-only onto itself: its content
  // stays in view, and every write to it fails with EROFS.
  static ScopedMount ReadOnly(const std::string& path);

  ScopedMount(ScopedMount&& other) noexcept;
  ScopedMount& operator=(ScopedMount&&) = delete;
  ~ScopedMount();  // unmounts, also when the test failed

  bool mounted() const { return !path_.empty(); }
  // Why the mount failed; empty when mounted.
  const std::string& failure() const { return failure_; }

 private:
  ScopedMount() = default;
  void Fail(const std::string& what);

  std::string path_;  // empty when not mounted
  std::string failure_;
  bool carry_files_back_ = false;
};

}  // namespace testing_support

// In a test body or SetUp: skips the test when `mount` could not be made.
// (The empty branch keeps an `else` after the macro from binding to it.)
#define SKIP_UNLESS_MOUNTED(mount) \
  if ((mount).mounted()) {         \
  } else                           \
    GTEST_SKIP() << "cannot mount: " << (mount).failure()
