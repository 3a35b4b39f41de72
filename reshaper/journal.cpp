#include "reshaper/journal.h"

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/engine/database.h"

namespace reshaper {

void RollBackHotJournal(const std::string& database_path) {
  const std::string journal = database_path + "-journal";
  if (!platform::FileExists(database_path) || !platform::FileExists(journal)) return;
  {
    auto db = platform::engine::Database::Open(database_path);
    // The rollback happens at the first read, not at the open.
    db.Query("SELECT count(*) FROM sqlite_master");
    db.Close();
  }
  if (platform::FileExists(journal)) {
    throw platform::Error(platform::err::kDeviceIoError)
        .AddDetail("journal", journal)
        .AddDetail("system", "the journal is still there after a rollback");
  }
}

}  // namespace reshaper
