#include "catalog_sync/run/mod_main.h"

#include <optional>
#include <string>

#include "catalog_sync/db/connection.h"
#include "catalog_sync/records/file_manager.h"
#include "catalog_sync/run/failure_box.h"
#include "catalog_sync/run/import_data.h"
#include "catalog_sync/run/paths.h"
#include "catalog_sync/run/run_error.h"
#include "catalog_sync/run/run_state.h"
#include "catalog_sync/run/update_assays.h"
#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/message_box.h"
#include "platform/core/text.h"
#include "platform/engine/integrity.h"

namespace catalog_sync {

namespace {

using platform::Error;

void DeleteOldMarker() {
  const std::string marker = MarkerPath();
  if (platform::FileExists(marker)) platform::DeleteFile(marker, /*force=*/true);
}

void RequireSource(const RunState& state) {
  if (!platform::FileExists(state.sSourceFile)) throw MakeRunError(RunError::kSourceNotFound);
}

// Fills colAssay and colObjTV from the source that the keyword names.
void LoadSource(RunState& state) {
  if (state.sRunKeyword == "QVR") {
    state.sSourceFile = WorkbookPath();
    RequireSource(state);
    if (!ImportData(state)) throw MakeRunError(RunError::kStepFailed);
  } else if (state.sRunKeyword == "INSTALL") {
    state.sSourceFile = PackagePath();
    RequireSource(state);
    const FileManager file_manager(state.sSourceFile);
    Error cause(0, "");
    if (!file_manager.ReadProperties(state.colAssay, state.colObjTV, &cause)) {
      throw PackageUnreadableError(cause);
    }
  } else {
    throw MakeRunError(RunError::kBadCommand).AddDetail("usage", "CatalogSync QVR | INSTALL");
  }
}

void CloseConnection(RunState& state) {
  state.connection->Close();
  state.connection.reset();
}

// Leaves a flushed backup copy of the database on disk and the run's
// connection open. The database is opened and closed once before it is
// copied: that rolls back a journal left by a program that was killed, so
// the copy is a whole, consistent database (a copy taken beside a hot
// journal would restore as a damaged one). A damaged database fails the run
// here, before the copy: nothing is written beside it or into it.
void PrepareDatabase(RunState& state) {
  const std::string database = DatabasePath();
  if (!platform::FileExists(database)) throw MakeRunError(RunError::kDatabaseNotFound);
  if (!db::OpenConnection(database, state.connection)) throw MakeRunError(RunError::kStepFailed);
  CloseConnection(state);
  platform::engine::CheckDatabaseIntegrity(database);
  platform::CopyFileOver(database, BackupPath());
  if (!platform::FileExists(BackupPath())) throw MakeRunError(RunError::kBackupNotFound);
  if (!db::OpenConnection(database, state.connection)) throw MakeRunError(RunError::kStepFailed);
}

// Applies every assay in one transaction. When the walk fails: rolls back,
// closes the connection (a SQLite file must not be replaced while open),
// puts the backup copy back over the database and deletes it.
void ApplyChanges(RunState& state) {
  {
    std::optional<platform::engine::Transaction> walk(state.connection->Begin());
    if (UpdateAssays(state)) {
      walk->Commit();
      return;
    }
  }  // rolled back
  CloseConnection(state);
  platform::CopyFileOver(BackupPath(), DatabasePath());
  platform::DeleteFile(BackupPath(), /*force=*/true);
  throw MakeRunError(RunError::kStepFailed);
}

void Finish(RunState& state) {
  CloseConnection(state);
  platform::DeleteFile(BackupPath(), /*force=*/true);
  platform::CreateEmptyFile(MarkerPath());
}

// The error step: the message of the failure, by its number.
RunOutcome ReportFailure(const Error& failure, const RunState& state) {
  if (const std::optional<platform::BoxMessage> message = RunFailureMessage(failure, state)) {
    platform::ShowBox(*message, platform::kCriticalOkOnly);
  }
  return RunErrorOf(failure.number()) == RunError::kBadCommand ? RunOutcome::kBadCommand
                                                               : RunOutcome::kFailed;
}

}  // namespace

RunOutcome RunCatalogSync(std::string_view arguments) {
  RunState state;
  try {
    state.sRunKeyword = platform::TrimSpaces(platform::UpperCase(arguments));
    DeleteOldMarker();
    LoadSource(state);
    PrepareDatabase(state);
    ApplyChanges(state);
    Finish(state);
    return RunOutcome::kSucceeded;
  } catch (...) {
    return ReportFailure(CurrentFailure(), state);
  }
}

int ExitStatus(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kSucceeded: return 0;
    case RunOutcome::kFailed: return 1;
    case RunOutcome::kBadCommand: return 2;
  }
  return 1;
}

}  // namespace catalog_sync
