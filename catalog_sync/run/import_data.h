// The loader of a "QVR" run: the assay workbook sSourceFile into colAssay
// and colObjTV, then the package file rewritten from them.
#pragma once

#include "catalog_sync/run/run_state.h"

namespace catalog_sync {

// True when every assay sheet was read into the two containers and the
// package file has been written from them. Traps every failure: shows the
// "ImportData<test number>" box (the last test number read, 0 when none)
// and returns false, the package file untouched.
bool ImportData(RunState& state);

}  // namespace catalog_sync
