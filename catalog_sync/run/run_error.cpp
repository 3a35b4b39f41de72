#include "catalog_sync/run/run_error.h"

#include "catalog_sync/run/paths.h"
#include "catalog_sync/run/run_state.h"

namespace catalog_sync {

namespace {

constexpr int kFirstCode = 1;
constexpr int kLastCode = 6;

const char* NameOf(RunError code) {
  switch (code) {
    case RunError::kBadCommand: return "BadCommand";
    case RunError::kSourceNotFound: return "SourceNotFound";
    case RunError::kDatabaseNotFound: return "DatabaseNotFound";
    case RunError::kStepFailed: return "StepFailed";
    case RunError::kBackupNotFound: return "BackupNotFound";
    case RunError::kPackageUnreadable: return "PackageUnreadable";
  }
  return "";
}

}  // namespace

long RunErrorNumber(RunError code) {
  return platform::err::kObjectErrorBase + static_cast<long>(code);
}

platform::Error MakeRunError(RunError code) {
  return platform::Error(RunErrorNumber(code), NameOf(code));
}

std::optional<RunError> RunErrorOf(long number) {
  const long code = number - platform::err::kObjectErrorBase;
  if (code < kFirstCode || code > kLastCode) return std::nullopt;
  return static_cast<RunError>(code);
}

std::optional<std::string> RunErrorPrompt(RunError code, const RunState& state) {
  const std::string not_found = "The following file was not found: ";
  switch (code) {
    case RunError::kBadCommand:
      return "An incorrect command parameter was supplied. Program Aborted.";
    case RunError::kSourceNotFound: return not_found + state.sSourceFile;
    case RunError::kDatabaseNotFound: return not_found + DatabasePath();
    case RunError::kBackupNotFound: return not_found + BackupPath();
    case RunError::kPackageUnreadable:
      return "The assay properties could not be read from the CatalogSync.dat file.";
    case RunError::kStepFailed: return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace catalog_sync
