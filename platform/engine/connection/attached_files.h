// Database files attached to a connection beside its main file, each under
// the rules of any file the engine opens, and the authorizer that keeps them
// from every statement but their owner's.
//
// A file is attached for one part of the system (the change history) that
// writes it in the transactions of the connection; the statements that the
// engine runs for its callers (Exec, Query, Execute, Prepare, the typed
// rows) are refused any access to an attached schema, and ATTACH, DETACH and
// temporary triggers (which could fire on an attached table) altogether.
// Only statements prepared and stepped while a Permit lives reach them.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/engine/connection/lock_file.h"

namespace platform::engine::internal {

class AttachedFiles {
 public:
  AttachedFiles() = default;
  AttachedFiles(const AttachedFiles&) = delete;
  AttachedFiles& operator=(const AttachedFiles&) = delete;

  // Attaches the file at `path` to `db` as `schema`:
  //  - a symbolic link at the name is refused (57, `link to`); anything but
  //    a regular file is refused as OpenForReading refuses it;
  //  - a missing file is created empty (O_EXCL, no link followed, 0644);
  //  - a symbolic link or special file at "<path>-journal" is removed, never
  //    followed; a regular file there is a hot journal and stays;
  //  - its lock file "<base name>.ldb" is held while it is attached;
  //  - a file read-only by its mode bits is attached read-only, also for
  //    root: its first write fails with SQLITE_READONLY and `read-only`;
  //  - journal_mode=DELETE.
  // Failures carry a `database` detail naming the file.
  // REQUIRES: no transaction open on `db`; `schema` not attached yet.
  void Attach(sqlite3* db, const std::string& path, const std::string& schema);
  // REQUIRES: no transaction open on `db`.
  void Detach(sqlite3* db, const std::string& schema);
  bool empty() const { return files_.empty(); }

  // Grows whenever the connection may have undone writes while files are
  // attached: at every rollback of its transaction, however it came (SQLite's
  // rollback hook), and at every statement that rolls back or rolls back to
  // a savepoint when it is prepared (SQLite has no hook for those). A writer
  // of an attached file that finds it unchanged knows that what it wrote
  // since is still there. REQUIRES, for that to hold: no statement that
  // rolls back is prepared long before it runs; the engine prepares them
  // when they run (sqlite3_exec, Savepoint).
  std::uint64_t rollbacks() const { return rollbacks_; }

  // A commit of several files first writes a super-journal
  // "<main>-mj<hex>" beside the main file and then names it in each file's
  // journal; a process killed between the two leaves it behind for good, as
  // no journal leads SQLite to it. Removes such files beside `main_path`.
  // REQUIRES: a write transaction is open on every file of the connection
  // (BEGIN IMMEDIATE has rolled back any hot journal, and no other process
  // can be committing to the main file), so every super-journal left is an
  // orphan.
  static void RemoveOrphanSuperJournals(const std::string& main_path);

  // While one lives, statements may reach the attached schemas. Hold it
  // while a statement is prepared and while it is stepped: SQLite prepares
  // a statement again after a schema change, asking the authorizer again.
  class Permit {
   public:
    explicit Permit(AttachedFiles& files) : files_(files) { ++files_.permits_; }
    Permit(const Permit&) = delete;
    Permit& operator=(const Permit&) = delete;
    ~Permit() { --files_.permits_; }

   private:
    AttachedFiles& files_;
  };

 private:
  static int Authorize(void* self, int action, const char* name, const char* detail,
                       const char* schema, const char* trigger_or_view);
  static void OnRollback(void* self);
  // The authorizer and the rollback hook, while a file is attached.
  void Watch(sqlite3* db);
  void Unwatch(sqlite3* db);

  struct File {
    std::string path;
    std::unique_ptr<LockFileShare> lock;
  };
  std::map<std::string, File> files_;  // by schema name
  int permits_ = 0;
  std::uint64_t rollbacks_ = 0;
};

}  // namespace platform::engine::internal
