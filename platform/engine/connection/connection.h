// RAII owner of one SQLite connection, set up as every connection of the
// engine must be: rollback journal, 5 s busy timeout, UCASE().
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace platform::engine::internal {

// Sets SQLite up for the process, once, before its first connection: no
// count of the memory it uses, which would take a process-wide mutex at
// every allocation (some 8 ms of a 5,000-assay install). A setting that
// comes too late (SQLite already set up) is refused and changes nothing.
void SetUpSqliteOnce();

class Connection {
 public:
  // Opens read-write; `create` allows creating a missing file. A file that
  // is read-only by its mode bits is opened read-only, also for root (whom
  // the kernel would let write): its first write fails with SQLite's own
  // SQLITE_READONLY, as it does for a user without write permission, and
  // the failure names the file and its mode. `vfs` names the SQLite VFS,
  // the default when null.
  Connection(const std::string& path, bool create, const char* vfs = nullptr);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  sqlite3* get() const noexcept { return db_; }
  // Runs SQL text of any number of statements without results.
  void Exec(std::string_view sql);
  // For an in-memory copy of `source`: when that file is read-only by its
  // mode bits, every write from now on fails as on the file itself
  // (SQLITE_READONLY, naming the file and its mode).
  // REQUIRES: no statement of this connection is prepared yet.
  void TakeReadOnlyFrom(const std::string& source);
  // Starts the transaction of a run, which takes the write lock at once.
  void Begin();

 private:
  sqlite3* db_ = nullptr;
  bool read_only_copy_ = false;
};

}  // namespace platform::engine::internal
