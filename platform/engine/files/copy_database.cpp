// CopyDatabase and the backup API's page copy.
#include "platform/engine/copy_database.h"

#include "platform/core/files.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/mapped_reads.h"
#include "platform/engine/connection/write_combining_vfs.h"
#include "platform/engine/database.h"
#include "platform/engine/files/copy_pages.h"
#include "platform/engine/rows/database_core.h"

namespace platform::engine {

namespace internal {

void CopyPages(sqlite3* from, sqlite3* to) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (backup == nullptr) throw SqliteFailure(to);
  sqlite3_backup_step(backup, -1);
  if (sqlite3_backup_finish(backup) != SQLITE_OK) throw SqliteFailure(to);
}

}  // namespace internal

void CopyDatabase(const std::string& source, const std::string& destination, CopyUse use) {
  try {
    // Every page is read once and written once (with the journal's copy of
    // the old one): the source is read through a memory map and the
    // destination's writes are combined, as in a compaction.
    Database from = Database::Open(source);
    const internal::MappedReads mapped(from.core().db());
    internal::DatabaseCore to(destination, /*create=*/!FileExists(destination),
                              internal::WriteCombiningVfs());
    if (use == CopyUse::kScratch) to.connection.Exec("PRAGMA synchronous = OFF");
    internal::CopyPages(from.core().db(), to.db());
  } catch (Error& failure) {
    failure.AddDetail("source", source).AddDetail("destination", destination);
    throw;
  }
}

}  // namespace platform::engine
