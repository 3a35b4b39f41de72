// The checks and the package read that a run and a plan of it share, so that
// both fail with the same message.
#pragma once

#include "catalog_sync/run/run_state.h"

namespace catalog_sync {

// Throws SourceNotFound unless state.sSourceFile exists.
void RequireSource(const RunState& state);

// Throws DatabaseNotFound unless state.sDatabaseFile exists.
void RequireDatabase(const RunState& state);

// The loader of an "INSTALL" run: the package file state.sSourceFile into
// colAssay and colObjTV. Throws PackageUnreadable, with the reader's reason,
// when it cannot be read.
void ReadPackage(RunState& state);

}  // namespace catalog_sync
