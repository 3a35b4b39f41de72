// Reads of a connection's main database through a memory map, for work that
// reads the whole file once (an integrity check, a compaction): its pages
// then come from the system's file cache without a read call each, some
// 134,000 calls for a 500 MB database. SQLite maps only what its locks
// protect from other connections, and remaps when the file changes size.
// Mapped pages are the file cache's own, not memory of the process.
#pragma once

#include <sqlite3.h>

namespace platform::engine::internal {

class MappedReads {
 public:
  // Maps up to the limit SQLite was built with (2 GB by default).
  explicit MappedReads(sqlite3* db);
  MappedReads(const MappedReads&) = delete;
  MappedReads& operator=(const MappedReads&) = delete;
  // Back to reads by call, as every other connection reads.
  ~MappedReads();

 private:
  sqlite3* db_;
};

}  // namespace platform::engine::internal
