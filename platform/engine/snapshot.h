// Dry runs: a database copied into memory, its sizes, and the rows that
// writes to it change (the recorder lives in the database layer, whose
// pre-update hook it is).
//
// A tool that previews what a program would do to a database runs the
// program's own code on an in-memory copy and records the row changes it
// makes there, so that the preview cannot disagree with the real run and the
// file is never touched.
#pragma once

#include <cstdint>
#include <string>

#include "platform/engine/database.h"
#include "platform/engine/database/change_recorder.h"

namespace platform::engine {

// A copy in memory of the database file at `path`, taken through SQLite's
// backup API under a shared read lock: the file and its folder are left byte
// for byte as they were (no lock file of the engine, no journal). A file
// with a journal left by a killed program cannot be read this way and fails,
// as does a missing file or one that is no database. The copy behaves as an
// opened Database in every other way, also in refusing every write when the
// file is read-only; its path() is `path`, for messages.
// Throws platform::Error.
Database OpenInMemoryCopy(const std::string& path);

// The size in bytes of the database as it stands (page count times page
// size), and the size it would have after compaction, measured on a
// compacted copy; `db` is not changed.
std::int64_t DatabaseSize(Database& db);
std::int64_t CompactedSize(Database& db);

}  // namespace platform::engine
