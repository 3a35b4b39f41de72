// A plain read-only SQLite connection to a file, outside the engine's rules
// for the files it changes: no lock file, no journal mode change, never a
// write. For readers that must leave the file and its folder as they are
// (the in-memory copy's source, the change history's reader).
#pragma once

#include <sqlite3.h>

#include <string>

namespace platform::engine::internal {

class ReadOnlySource {
 public:
  // Opens `path` read-only with the engine's busy timeout and reads its
  // schema, so that a file that is no database, or one with a journal to
  // roll back, fails here with its own cause (and a `database` detail).
  // With kRollBackHotJournal, a journal that a killed writer left is rolled
  // back instead (SQLite's recovery, which restores the last commit and
  // writes nothing else): the connection may write to the file then, while
  // its statements still cannot (query_only). A file read-only by its mode
  // bits is opened read-only all the same.
  enum class HotJournal { kFail, kRollBack };
  explicit ReadOnlySource(const std::string& path, HotJournal hot_journal = HotJournal::kFail);
  ReadOnlySource(const ReadOnlySource&) = delete;
  ReadOnlySource& operator=(const ReadOnlySource&) = delete;
  ~ReadOnlySource() { sqlite3_close_v2(db_); }
  sqlite3* get() const { return db_; }

 private:
  [[noreturn]] void Fail(const std::string& path);
  sqlite3* db_ = nullptr;
};

}  // namespace platform::engine::internal
