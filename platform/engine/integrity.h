// Whether a database is sound enough to be changed. A program that writes
// into a damaged file, or compacts it, can make the damage permanent (rows
// that a damaged page no longer counts are dropped by a compaction, which
// leaves a file that then checks "ok"); so the programs check first and
// leave a damaged file as it is, for the operator to restore.
#pragma once

#include <string>

#include "platform/engine/database.h"

namespace platform::engine {

// Runs SQLite's quick check (every page and b-tree of the file, the order
// of their keys and the space they account for; not whether the indexes
// hold the same rows as their tables) on `db`. Writes nothing.
// Throws platform::Error 11 "database disk image is malformed" with the
// database's path and the first problems found as "problem" details when
// the check finds any; any other failure as the engine's.
void CheckIntegrity(Database& db);

// CheckIntegrity on the file at `path` through a connection of its own,
// closed before it returns: opening the file rolls back a journal that a
// killed program left, so the state checked is the one the run would work
// on.
void CheckDatabaseIntegrity(const std::string& path);

}  // namespace platform::engine
