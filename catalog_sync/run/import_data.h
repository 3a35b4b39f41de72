// The loader of a "QVR" run: the assay workbook sSourceFile into colAssay
// and colObjTV (ReadAssayWorkbook, workbook_import.h), then the package file
// rewritten from them.
#pragma once

#include "catalog_sync/run/run_state.h"

namespace catalog_sync {

// True when every assay sheet was read into the two containers and the
// package file has been written from them. Traps every failure: shows the
// "ImportData<test number>" box (the last test number read, 0 when none)
// with its detail lines and returns false. The package file is written only
// after the last sheet was read, and replaced whole or not at all.
bool ImportData(RunState& state);

}  // namespace catalog_sync
