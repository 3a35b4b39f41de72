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
// every assay was applied; a failed walk is rolled back and the database
// file then replaced by the backup copy taken before the run, so that it is
// byte for byte what it was. An interrupted run leaves it either as it was
// or fully updated.
RunOutcome RunCatalogSync(std::string_view arguments);

// The process exit status of an outcome: 0, 1, 2.
int ExitStatus(RunOutcome outcome);

}  // namespace catalog_sync
