// CompactDatabase: VACUUM INTO a new file.
#include <optional>
#include <string>
#include <vector>

#include "platform/core/files.h"
#include "platform/engine/engine_error.h"
#include "platform/engine/internal/database_impl.h"
#include "platform/engine/internal/engine_failure.h"
#include "platform/engine/internal/statement.h"
#include "platform/engine/schema.h"

namespace platform::engine {

void CompactDatabase(const std::string& source, const std::string& destination) {
  if (FileExists(destination)) {
    throw internal::EngineFailure(engine_err::kDestinationExists)
        .AddDetail("destination", destination);
  }
  if (ProbeLockFile(source) == LockState::kHeld) {
    throw internal::EngineFailure(engine_err::kDatabaseInUse).AddDetail("database", source);
  }
  // The copy takes the source's place: a file that may not be written may
  // not be replaced either, also by root.
  if (const std::optional<std::string> note = internal::ReadOnlyNote(source)) {
    throw Error(SQLITE_READONLY, sqlite3_errstr(SQLITE_READONLY)).AddDetail("read-only", *note);
  }
  Database db = Database::Open(source);
  try {
    internal::Statement vacuum(db.impl().db(), "VACUUM INTO ?");
    vacuum.Bind(1, Value(destination));
    vacuum.Step();
  } catch (Error& failure) {
    db.Close();
    // VACUUM INTO leaves an empty or partial file behind when it fails.
    if (FileExists(destination)) DeleteFile(destination, true);
    failure.AddDetail("source", source).AddDetail("destination", destination);
    throw;
  }
}

}  // namespace platform::engine
