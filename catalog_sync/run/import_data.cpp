#include "catalog_sync/run/import_data.h"

#include "catalog_sync/run/failure_box.h"
#include "platform/core/error.h"

namespace catalog_sync {

namespace {

// The number the platform gives when the workbook's reader cannot be
// created.
constexpr long kCannotCreateReader = 429;

}  // namespace

// This build has no workbook reader yet: every import ends on the failure
// path, before any sheet is read, so the containers stay empty and the
// package file untouched.
bool ImportData(RunState& state) {
  const platform::Error failure =
      platform::Error(kCannotCreateReader, "The workbook reader is not available")
          .AddDetail("workbook", state.sSourceFile);
  ShowUnexpectedError("ImportData0", failure);
  return false;
}

}  // namespace catalog_sync
