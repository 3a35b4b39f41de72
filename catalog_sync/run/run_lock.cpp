#include "catalog_sync/run/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "catalog_sync/run/paths.h"
#include "platform/core/error.h"
#include "platform/core/files.h"

namespace catalog_sync {

RunLock::RunLock() {
  const std::string folder = platform::FolderOf(DatabasePath());
  folder_ = platform::UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_.valid()) return;
  if (::flock(folder_.get(), LOCK_EX | LOCK_NB) == 0) return;
  if (errno != EWOULDBLOCK) throw platform::ErrorFromErrno(errno, "lock folder", folder);
  // Permission denied: the platform's answer to a file that another program
  // holds open for writing.
  throw platform::Error(platform::err::kPermissionDenied)
      .AddDetail("another CatalogSync run holds the database", DatabasePath());
}

}  // namespace catalog_sync
