// Whole-database copies that other connections can live with: the pages go
// through SQLite's backup API, so the source is read as one consistent state
// and the destination is written in place under SQLite's own locks and
// rollback journal. sqlite3.h stays out of this header.
#pragma once

#include <string>

namespace platform::engine {

// Copies every page of the database `source` into the database file
// `destination` (created when missing; an existing one is overwritten in
// place, so it keeps its inode, owner, mode and any link naming it, and its
// other connections read the new content). The source is read under a
// shared lock held for the whole copy: no other connection commits to it
// meanwhile. A crash leaves the destination as it was or whole (SQLite
// rolls its journal back). A lock held by another program past the busy
// timeout fails with SQLite's busy error. Throws platform::Error with the
// two paths as details.
//
// A kScratch copy is one that only the running process reads, and that is
// deleted, never used, after a crash (a run's backup copy): it is written
// without waiting for the disk (no sync; a power cut may leave it torn),
// the rest as above.
enum class CopyUse { kKept, kScratch };
void CopyDatabase(const std::string& source, const std::string& destination,
                  CopyUse use = CopyUse::kKept);

}  // namespace platform::engine
