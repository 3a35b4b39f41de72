// The run driver of CatalogSync: keyword, source, backup copy, connection,
// change dispatch, restore on failure, completion marker, and the run's
// messages.
#pragma once

#include <string_view>

namespace catalog_sync {

enum class RunOutcome {
  kSucceeded,   // the completion marker was written; no message
  kFailed,      // a message box said why
  kBadCommand,  // the keyword was refused
};

// One whole run. `arguments` are the command-line arguments joined with one
// space. Never throws: every failure ends in its message box and outcome.
//
// The changes of all assays are made in one transaction, committed only when
// every assay was applied; a failed walk or commit is rolled back, which
// leaves the database as it would be had the run never started (other
// clients' commits included). The backup copy taken before the run is
// copied back in place only when that rollback cannot be trusted. An
// interrupted run leaves the database either as it was or fully updated. A
// second run while one holds the database fails before it touches anything.
//
// When the Logs folder exists, the run keeps its record in the change
// history from the moment the database was found: the rows each assay
// changed, committed in the walk's transaction, and a seal with the
// outcome as the operator saw it. A history that cannot be written fails
// the run before any change.
RunOutcome RunCatalogSync(std::string_view arguments);

// The process exit status of an outcome: 0, 1, 2.
int ExitStatus(RunOutcome outcome);

}  // namespace catalog_sync
