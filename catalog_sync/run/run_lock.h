// One CatalogSync run at a time per database: the runs share the backup
// copy's name and each one's restore or clean-up would undo the other's.
#pragma once

#include "platform/core/unique_fd.h"

namespace catalog_sync {

// An exclusive flock(2) on the database's folder, held from before the run
// touches anything to the end of the process. The kernel drops it when the
// process ends, however it ends, so no crash can leave it stuck, and it is
// a lock of its own kind: SQLite's fcntl locks and the engine's lock file
// are not affected by it. A folder that cannot be opened takes no lock (the
// run then fails on the missing database as before).
class RunLock {
 public:
  // Throws Permission denied (70) with a `detail:` line saying that another
  // run holds the database when another process holds the lock.
  RunLock();

 private:
  platform::UniqueFd folder_;
};

}  // namespace catalog_sync
