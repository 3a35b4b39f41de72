#include "catalog_sync/run/import_data.h"

#include <optional>

#include "catalog_sync/records/file_manager.h"
#include "catalog_sync/run/failure_box.h"
#include "catalog_sync/run/paths.h"
#include "catalog_sync/run/workbook_import.h"

namespace catalog_sync {

namespace {

// Replaces the package file with the catalogue read. A failure is titled
// after the last sheet's test number, the last B2 that was read.
std::optional<ImportFailure> WritePackage(const RunState& state) {
  try {
    FileManager(PackagePath()).WriteProperties(state.colAssay, state.colObjTV);
    return std::nullopt;
  } catch (...) {
    const Assay& last = state.colAssay.Item(state.colAssay.Count());
    return ImportFailure{ImportFailureTitle(last.TestNumber()), CurrentFailure()};
  }
}

}  // namespace

bool ImportData(RunState& state) {
  std::optional<ImportFailure> failure =
      ReadAssayWorkbook(state.sSourceFile, state.colAssay, state.colObjTV);
  if (!failure) failure = WritePackage(state);
  if (!failure) return true;
  ShowUnexpectedError(failure->title, failure->error);
  return false;
}

}  // namespace catalog_sync
