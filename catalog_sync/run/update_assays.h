// The change dispatch: every assay of colAssay, in order, to the database
// change its mode asks for.
#pragma once

#include "catalog_sync/run/run_state.h"

namespace catalog_sync {

// Walks colAssay once: test number 0 is skipped, "DELETE" goes to
// DeleteAssay (name trimmed, upper-cased), "ADD" and "MODIFY" to
// AddModifyAssay, any other mode is skipped. Traps every failure: the first
// one ends the walk with the "UpdateAssay <test number>" box (and `detail:`
// lines naming the assay) and false; the later assays are not looked at.
// REQUIRES: state.connection is open. Undoing the changes of a failed walk
// is the caller's.
bool UpdateAssays(RunState& state);

}  // namespace catalog_sync
