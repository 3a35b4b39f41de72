#include "catalog_sync/run/mod_main.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "catalog_sync/db/connection.h"
#include "catalog_sync/run/failure_box.h"
#include "catalog_sync/run/import_data.h"
#include "catalog_sync/run/load_source.h"
#include "catalog_sync/run/paths.h"
#include "catalog_sync/run/run_error.h"
#include "catalog_sync/run/run_history.h"
#include "catalog_sync/run/run_lock.h"
#include "catalog_sync/run/run_state.h"
#include "catalog_sync/run/update_assays.h"
#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/message_box.h"
#include "platform/core/text.h"
#include "platform/engine/copy_database.h"
#include "platform/engine/integrity.h"
#include "platform/engine/snapshot.h"

namespace catalog_sync {

namespace {

using platform::Error;

void DeleteOldMarker() {
  const std::string marker = MarkerPath();
  if (platform::FileExists(marker)) platform::DeleteFile(marker, /*force=*/true);
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
    ReadPackage(state);
  } else {
    throw MakeRunError(RunError::kBadCommand).AddDetail("usage", "CatalogSync QVR | INSTALL");
  }
}

void CloseConnection(RunState& state, RunHistory& history) {
  history.Detach();
  state.connection->Close();
  state.connection.reset();
}

// Whatever sits at the backup's names goes, a planted or dangling link
// included, so that SQLite's open never follows one out of the folder.
void DeleteLeftoverBackup() {
  for (const std::string& path : {BackupPath(), BackupPath() + "-journal"}) {
    if (platform::EntryExists(path)) platform::DeleteFile(path, /*force=*/true);
  }
}

// Leaves a backup copy of the database on disk and the run's connection
// open, with the history (when kept) attached. The copy goes through
// SQLite's backup API, under a shared lock for the whole copy: one
// consistent state, whatever other clients commit meanwhile. Its first read
// rolls back a journal left by a program that was killed, so the copy is
// never of a half-written file. A damaged database, or a history that
// cannot be written, fails the run before the copy: nothing is written
// beside the database or into it.
void PrepareDatabase(RunState& state, RunHistory& history) {
  state.sDatabaseFile = DatabasePath();
  RequireDatabase(state);
  history.Open(state);
  const std::string& database = state.sDatabaseFile;
  if (!db::OpenConnection(database, state.connection)) throw MakeRunError(RunError::kStepFailed);
  history.Attach(*state.connection);
  platform::engine::CheckIntegrity(*state.connection);
  DeleteLeftoverBackup();
  try {
    // Read only by this run, and deleted by the next one after a crash.
    platform::engine::CopyDatabase(database, BackupPath(), platform::engine::CopyUse::kScratch);
  } catch (...) {
    DeleteLeftoverBackup();  // a partial copy that no restore may use
    throw;
  }
  if (!platform::FileExists(BackupPath())) throw MakeRunError(RunError::kBackupNotFound);
}

// Walks the assays in one transaction and commits it; the box of the walk's
// failure, or the general box of a failed BEGIN or COMMIT (its `SQL:`
// detail names the statement), titled as the walk's own, with the test
// number most recently read. Each assay's rows go to the history as soon as
// it was handled, in the same transaction, so that the record commits or
// rolls back with them and the recorder holds one assay's rows at a time.
// The transaction is rolled back unless committed.
std::optional<platform::BoxMessage> WalkAndCommit(RunState& state, RunHistory& history) {
  std::int16_t nTestNumber = 0;
  try {
    platform::engine::Transaction walk = state.connection->Begin();
    std::optional<platform::engine::ChangeRecorder> recorder;
    if (history.kept()) recorder.emplace(*state.connection);
    const auto after_each = [&](const AssayVisit& visit) {
      nTestNumber = visit.nTestNumber;
      if (recorder) history.RecordAssay(visit.nTestNumber, *recorder);
    };
    if (std::optional<platform::BoxMessage> failure = WalkAssays(state, after_each)) {
      return failure;
    }
    walk.Commit();
    return std::nullopt;
  } catch (...) {
    return UnexpectedErrorMessage(UpdateAssayTitle(nTestNumber), CurrentFailure());
  }
}

// The rollback left the connection outside any transaction and the database
// sound: then it is as other clients left it, their commits made during the
// run included.
bool RollbackHeld(RunState& state) {
  try {
    state.connection->Exec("BEGIN; ROLLBACK");  // fails while a transaction is still open
    platform::engine::CheckIntegrity(*state.connection);
    return true;
  } catch (const Error&) {
    return false;
  }
}

// Undoes a failed walk and says how, as a detail line. The backup copy is
// put back only when the rollback cannot be trusted, since it drops every
// commit of other clients since the copy; it is copied through SQLite into
// the database in place (the file, its links and other connections stay).
std::pair<std::string, std::string> UndoWalk(RunState& state, RunHistory& history) {
  const bool rolled_back = state.connection && RollbackHeld(state);
  if (state.connection) CloseConnection(state, history);
  if (!rolled_back) platform::engine::CopyDatabase(BackupPath(), DatabasePath());
  return WalkUndoneDetail(rolled_back);
}

// Applies every assay in one transaction. A failed walk is undone
// (UndoWalk), its box shown with how, and the backup copy deleted.
void ApplyChanges(RunState& state, RunHistory& history) {
  std::optional<platform::BoxMessage> failure = WalkAndCommit(state, history);
  if (!failure) return;
  failure->details.push_back(UndoWalk(state, history));
  platform::DeleteFile(BackupPath(), /*force=*/true);
  platform::ShowBox(*failure, platform::kCriticalOkOnly);
  throw MakeRunError(RunError::kStepFailed);
}

// The seal comes before the marker: a marker vouches for a sealed record.
void Finish(RunState& state, RunHistory& history) {
  CloseConnection(state, history);
  platform::DeleteFile(BackupPath(), /*force=*/true);
  history.SealSuccess();
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
  RunHistory history{std::string(arguments)};  // after `state`: gone before its connection
  try {
    state.sRunKeyword = platform::TrimSpaces(platform::UpperCase(arguments));
    const RunLock run_lock;  // before anything is touched; held to the end
    DeleteOldMarker();
    LoadSource(state);
    PrepareDatabase(state, history);
    ApplyChanges(state, history);
    Finish(state, history);
    return RunOutcome::kSucceeded;
  } catch (...) {
    const RunOutcome outcome = ReportFailure(CurrentFailure(), state);
    history.SealFailure(ExitStatus(outcome));
    return outcome;
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
