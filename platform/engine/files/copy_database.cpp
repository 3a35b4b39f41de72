// CopyDatabase and the backup API's page copy.
#include "platform/engine/copy_database.h"

#include "platform/core/files.h"
#include "platform/engine/connection/engine_failure.h"
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

void CopyDatabase(const std::string& source, const std::string& destination) {
  try {
    Database from = Database::Open(source);
    Database to =
        FileExists(destination) ? Database::Open(destination) : Database::Create(destination);
    internal::CopyPages(from.core().db(), to.core().db());
  } catch (Error& failure) {
    failure.AddDetail("source", source).AddDetail("destination", destination);
    throw;
  }
}

}  // namespace platform::engine
