// What a CatalogSync run would do to a database, found by running it: the
// source read as the run reads it, the database copied into memory, the
// run's own change dispatch on that copy, and the rows each assay changed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalog_sync/run/update_assays.h"
#include "platform/core/message_box.h"
#include "platform/engine/database.h"
#include "platform/engine/snapshot.h"

namespace catalog_package {

using platform::engine::RowChange;

// One reagent part's row change, in its assay's `changes`.
struct PartChange {
  std::int64_t part;
  const RowChange* change;  // inserted: added; updated: overwritten; deleted
};

// One assay of the walk and what its dispatch changed.
struct AssayPlan {
  enum class Outcome {
    kSkippedTestNumberZero,
    kSkippedUnknownMode,
    kDeleted,          // the Tests row and its ranges and volumes removed
    kKitsOnly,         // a DELETE whose name does not match the stored one
    kNothingToDelete,  // a DELETE of a test the database does not hold
    kAdded,            // a Tests row inserted
    kUpdated,          // an existing Tests row overwritten (maybe to no change)
  };

  AssayPlan(const catalog_sync::AssayVisit& assay_visit, std::vector<RowChange> row_changes)
      : visit(assay_visit), changes(std::move(row_changes)) {}
  // Moved, never copied: a copy's pointers below would point into the
  // original's changes.
  AssayPlan(const AssayPlan&) = delete;
  AssayPlan& operator=(const AssayPlan&) = delete;
  AssayPlan(AssayPlan&&) = default;
  AssayPlan& operator=(AssayPlan&&) = default;

  catalog_sync::AssayVisit visit;
  Outcome outcome = Outcome::kSkippedUnknownMode;
  std::vector<RowChange> changes;  // every row change, in the order first made
  // DELETE: rows removed per table, in the order the tables were first touched.
  std::vector<std::pair<std::string, std::int64_t>> removed;
  // ADD and MODIFY: the Tests row's change (none when nothing of it changed),
  // the parts' row changes, the normal range's change (none: kept). They
  // point into `changes` (not copied: a run has tens of thousands): valid
  // while it is, a moved plan's included.
  const RowChange* test_row = nullptr;
  std::vector<PartChange> parts;
  const RowChange* range = nullptr;
};

// How many assays were added, updated, deleted (every DELETE that ran,
// whatever it found) and skipped.
struct PlanSummary {
  std::int64_t added = 0, updated = 0, deleted = 0, skipped = 0;
  void Count(const AssayPlan& assay);
};

struct CatalogPlan {
  std::string keyword;  // "INSTALL" for a package, "QVR" for a workbook; "" when unreadable
  PlanSummary summary;  // of the assays handled
  // What the run would tell the operator when it fails, exactly as it would
  // show it; for a failed walk, the position of the assay it stopped at.
  std::optional<platform::BoxMessage> failure;
  std::optional<std::int32_t> failed_position;
};

// Receives each assay's plan as soon as the assay was handled, in source
// order, with the in-memory copy as the assay left it (to be read, not
// written); nothing of it is kept afterwards, so a large catalogue is
// planned in little memory.
using AssaySink = std::function<void(const AssayPlan&, platform::engine::Database& copy)>;

// Plans a run of `source` (a workbook when it starts with the compound file
// signature, else a package) against the database file `database`. The
// database is only read, through a shared lock, into memory: the file and
// its folder are left byte for byte as they were. Writes no file. Throws
// nothing but std::bad_alloc.
CatalogPlan PlanCatalogRun(const std::string& source, const std::string& database,
                           const AssaySink& each_assay);

}  // namespace catalog_package
