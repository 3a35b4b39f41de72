#include "catalog_sync/run/load_source.h"

#include "catalog_sync/records/file_manager.h"
#include "catalog_sync/run/run_error.h"
#include "platform/core/error.h"
#include "platform/core/files.h"

namespace catalog_sync {

void RequireSource(const RunState& state) {
  if (!platform::FileExists(state.sSourceFile)) throw MakeRunError(RunError::kSourceNotFound);
}

void RequireDatabase(const RunState& state) {
  if (!platform::FileExists(state.sDatabaseFile)) throw MakeRunError(RunError::kDatabaseNotFound);
}

void ReadPackage(RunState& state) {
  platform::Error cause(0, "");
  if (!FileManager(state.sSourceFile).ReadProperties(state.colAssay, state.colObjTV, &cause)) {
    throw PackageUnreadableError(cause);
  }
}

}  // namespace catalog_sync
