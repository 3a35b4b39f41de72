#include "catalog_sync/run/run_error.h"

#include "catalog_sync/run/failure_box.h"
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
  switch (code) {
    case RunError::kBadCommand:
      return "An incorrect command parameter was supplied. Program Aborted.";
    case RunError::kSourceNotFound: return NotFoundPrompt(state.sSourceFile);
    case RunError::kDatabaseNotFound: return NotFoundPrompt(state.sDatabaseFile);
    case RunError::kBackupNotFound: return NotFoundPrompt(BackupPath());
    case RunError::kPackageUnreadable:
      return "The assay properties could not be read from the CatalogSync.dat file.";
    case RunError::kStepFailed: return std::nullopt;
  }
  return std::nullopt;
}

std::string NotFoundPrompt(const std::string& path) {
  return "The following file was not found: " + path;
}

platform::Error PackageUnreadableError(const platform::Error& cause) {
  platform::Error error = MakeRunError(RunError::kPackageUnreadable);
  error.AddDetail("cause", cause.description() + " (" + std::to_string(cause.number()) + ")");
  for (const auto& [what, value] : cause.details()) error.AddDetail(what, value);
  return error;
}

std::optional<platform::BoxMessage> RunFailureMessage(const platform::Error& failure,
                                                      const RunState& state) {
  const std::optional<RunError> code = RunErrorOf(failure.number());
  if (!code) return UnexpectedErrorMessage("Catalog Sync", failure);
  const std::optional<std::string> prompt = RunErrorPrompt(*code, state);
  if (!prompt) return std::nullopt;
  return platform::BoxMessage{"Catalog Sync", *prompt, failure.details()};
}

}  // namespace catalog_sync
