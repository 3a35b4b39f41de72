// The lock file "<base name>.ldb" beside a database.
//
// Every open connection of the engine is counted on ONE process-wide
// descriptor of the lock file, which holds a shared fcntl lock on byte 0.
// fcntl locks belong to the process and closing any descriptor of a file
// drops all of them, so the process never opens a second descriptor of a
// lock file it holds. The last release takes the exclusive lock (no other
// process holds a shared one) and removes the file.
#pragma once

#include <string>

#include "platform/engine/connection/lock_state.h"

namespace platform::engine::internal {

// "<folder>/<base name>.ldb" for a database path (the last extension of the
// file name replaced).
std::string LockFilePath(const std::string& database_path);

// One connection's share of the lock file: acquired on construction, released
// on destruction (the last share removes the file when no other process holds
// it).
class LockFileShare {
 public:
  explicit LockFileShare(const std::string& database_path);
  LockFileShare(const LockFileShare&) = delete;
  LockFileShare& operator=(const LockFileShare&) = delete;
  ~LockFileShare();

 private:
  std::string key_;
};

LockState ProbeLock(const std::string& database_path);
void RemoveStaleLock(const std::string& database_path);

}  // namespace platform::engine::internal
