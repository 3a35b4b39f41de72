// The change dispatch: every assay of colAssay, in order, to the database
// change its mode asks for.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "catalog_sync/run/run_state.h"
#include "platform/core/message_box.h"

namespace catalog_sync {

// What the walk did with one assay.
enum class AssayAction {
  kSkippedTestNumberZero,
  kSkippedUnknownMode,  // any mode but the three, the empty one included
  kDeleted,             // DeleteAssay ran
  kAddedOrModified,     // AddModifyAssay ran
};

// One assay as the walk read it, and what it did with it.
struct AssayVisit {
  std::int16_t nPosition;
  std::int16_t nTestNumber;
  std::string sMode;
  std::string sTestName;  // trimmed and upper-cased, as DeleteAssay gets it
  AssayAction action;
};

// Called after each assay was handled, before the next one is read.
using AssayObserver = std::function<void(const AssayVisit&)>;

// Walks colAssay once: test number 0 is skipped, "DELETE" goes to
// DeleteAssay (name trimmed, upper-cased), "ADD" and "MODIFY" to
// AddModifyAssay, any other mode is skipped. Traps every failure: the first
// one ends the walk and is returned as the "UpdateAssay <test number>" box
// (general prompt, a `detail:` line naming the assay, then the error's own);
// the later assays are not looked at. Shows nothing.
// REQUIRES: state.connection is open. Undoing the changes of a failed walk
// is the caller's.
std::optional<platform::BoxMessage> WalkAssays(RunState& state, const AssayObserver& after_each);

// The title of the walk's failure box: "UpdateAssay " and the test number
// most recently read (0 before the first).
std::string UpdateAssayTitle(std::int16_t nTestNumber);

// The `detail:` line that says how a failed walk was undone: by the
// rollback of its transaction, or by copying the backup copy back.
std::pair<std::string, std::string> WalkUndoneDetail(bool rolled_back);

}  // namespace catalog_sync
