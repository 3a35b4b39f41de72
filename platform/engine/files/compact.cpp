// CompactDatabase: VACUUM in place.
#include "platform/core/files.h"
#include "platform/engine/connection/engine_error.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/mapped_reads.h"
#include "platform/engine/connection/write_combining_vfs.h"
#include "platform/engine/rows/database_core.h"
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
    //
    // VACUUM writes every page twice (the journal's copy of the old page,
    // then the new one) and reads every page twice: its own connection
    // combines the writes and maps the reads. Its errors stay those of the
    // VACUUM statement, whichever write it was that failed.
    if (!FileExists(path)) throw Error(err::kFileNotFound).AddDetail("database", path);
    internal::DatabaseCore compaction(path, /*create=*/false, internal::WriteCombiningVfs());
    const internal::MappedReads mapped(compaction.db());
    compaction.connection.Exec("VACUUM");
  } catch (Error& failure) {
    failure.AddDetail("database", path);
    throw;
  }
}

}  // namespace platform::engine
