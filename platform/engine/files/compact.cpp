// CompactDatabase: VACUUM in place.
#include "platform/engine/connection/engine_error.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/schema.h"

namespace platform::engine {

void CompactDatabase(const std::string& path) {
  if (ProbeLockFile(path) == LockState::kHeld) {
    throw internal::EngineFailure(engine_err::kDatabaseInUse).AddDetail("database", path);
  }
  try {
    // VACUUM takes the exclusive lock before it reads the first page and
    // writes the compacted pages back through the rollback journal: no other
    // connection commits in between, and a crash leaves the old database.
    Database::Open(path).Exec("VACUUM");
  } catch (Error& failure) {
    failure.AddDetail("database", path);
    throw;
  }
}

}  // namespace platform::engine
