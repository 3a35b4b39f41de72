#include "catalog_package/catalog_plan.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>

#include "catalog_sync/db/connection.h"
#include "catalog_sync/run/failure_box.h"
#include "catalog_sync/run/load_source.h"
#include "catalog_sync/run/run_error.h"
#include "catalog_sync/run/run_state.h"
#include "catalog_sync/run/workbook_import.h"
#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/engine/integrity.h"

namespace catalog_package {

namespace {

using catalog_sync::AssayAction;
using catalog_sync::RunState;
using platform::engine::Database;
using Outcome = AssayPlan::Outcome;

// A planning step's end: the message the run would show.
struct Stop {
  platform::BoxMessage message;
};

bool IsCompoundFile(const std::string& path) {
  constexpr std::array<unsigned char, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                       0xA1, 0xB1, 0x1A, 0xE1};
  std::array<char, 8> head{};
  std::ifstream in(path, std::ios::binary);
  if (!in.read(head.data(), head.size())) return false;  // the package reader says why
  return std::equal(head.begin(), head.end(), kSignature.begin(),
                    [](char c, unsigned char s) { return static_cast<unsigned char>(c) == s; });
}

// Fills the containers as the run's loader of that source does; a source
// that cannot be read ends the plan with the loader's message.
void LoadSource(RunState& state) {
  catalog_sync::RequireSource(state);
  if (IsCompoundFile(state.sSourceFile)) {
    state.sRunKeyword = "QVR";
    const std::optional<catalog_sync::ImportFailure> failure =
        catalog_sync::ReadAssayWorkbook(state.sSourceFile, state.colAssay, state.colObjTV);
    if (failure) throw Stop{catalog_sync::UnexpectedErrorMessage(failure->title, failure->error)};
    return;
  }
  state.sRunKeyword = "INSTALL";
  catalog_sync::ReadPackage(state);
}

// The run's connection, here on a copy in memory of the database, checked
// as the run checks the file before its backup copy.
void OpenCopy(RunState& state, const std::string& database) {
  state.sDatabaseFile = database;
  catalog_sync::RequireDatabase(state);
  try {
    state.connection.emplace(platform::engine::OpenInMemoryCopy(database));
  } catch (const platform::Error& failure) {
    throw Stop{catalog_sync::db::OpenConnectionMessage(failure)};
  }
  platform::engine::CheckIntegrity(*state.connection);
}

const platform::Value* FindColumn(const RowChange& change, const std::string& column) {
  const auto at = std::find(change.columns.begin(), change.columns.end(), column);
  if (at == change.columns.end()) return nullptr;
  const auto i = static_cast<std::size_t>(at - change.columns.begin());
  return change.kind == RowChange::Kind::kDeleted ? &change.old_values[i] : &change.new_values[i];
}

// The part of a TestVolumes row: in the change itself, or, for an update
// that left it alone, in the row as it now stands.
std::int64_t PartOf(const RowChange& change, Database& db) {
  if (const platform::Value* part = FindColumn(change, "TV_Part")) return part->ToLong();
  const platform::Value rowid(static_cast<double>(change.rowid));
  return db.Query("SELECT TV_Part FROM TestVolumes WHERE rowid = ?", {&rowid, 1})
      .Field(0, "TV_Part")
      .ToLong();
}

bool HasTestRow(Database& db, std::int16_t nTestNumber) {
  const platform::Value id(nTestNumber);
  return !db.Query("SELECT 1 FROM Tests WHERE Tests_ID = ?", {&id, 1}).empty();
}

void DescribeDeletion(AssayPlan& plan, Database& db) {
  bool test_removed = false;
  for (const RowChange& change : plan.changes) {
    test_removed = test_removed || change.table == "Tests";
    auto at = std::find_if(plan.removed.begin(), plan.removed.end(),
                           [&](const auto& entry) { return entry.first == change.table; });
    if (at == plan.removed.end()) at = plan.removed.insert(at, {change.table, 0});
    ++at->second;
  }
  if (test_removed) {
    plan.outcome = Outcome::kDeleted;
  } else {
    plan.outcome =
        HasTestRow(db, plan.visit.nTestNumber) ? Outcome::kKitsOnly : Outcome::kNothingToDelete;
  }
}

void DescribeAddModify(AssayPlan& plan, Database& db) {
  plan.outcome = Outcome::kUpdated;
  for (const RowChange& change : plan.changes) {
    if (change.table == "Tests") {
      plan.test_row = &change;
      if (change.kind == RowChange::Kind::kInserted) plan.outcome = Outcome::kAdded;
    } else if (change.table == "TestVolumes") {
      plan.parts.push_back({PartOf(change, db), &change});
    } else if (change.table == "TestRanges") {
      plan.range = &change;
    }
  }
}

AssayPlan DescribeAssay(const catalog_sync::AssayVisit& visit, std::vector<RowChange> changes,
                        Database& db) {
  AssayPlan plan(visit, std::move(changes));
  switch (visit.action) {
    case AssayAction::kSkippedTestNumberZero: plan.outcome = Outcome::kSkippedTestNumberZero; break;
    case AssayAction::kSkippedUnknownMode: plan.outcome = Outcome::kSkippedUnknownMode; break;
    case AssayAction::kDeleted: DescribeDeletion(plan, db); break;
    case AssayAction::kAddedOrModified: DescribeAddModify(plan, db); break;
  }
  return plan;
}

// The run's walk, in its one transaction as the run makes it; never
// committed, so the copy ends as it began.
void Walk(RunState& state, CatalogPlan& plan, const AssaySink& each_assay) {
  Database& db = *state.connection;
  platform::engine::ChangeRecorder recorder(db);
  const platform::engine::Transaction walk = db.Begin();
  std::int32_t handled = 0;
  plan.failure = catalog_sync::WalkAssays(state, [&](const catalog_sync::AssayVisit& visit) {
    const AssayPlan assay = DescribeAssay(visit, recorder.Take(), db);
    plan.summary.Count(assay);
    ++handled;
    each_assay(assay, db);
  });
  if (plan.failure) {
    plan.failed_position = handled + 1;
    // The run rolls its failed walk back, as the plan's copy does.
    plan.failure->details.push_back(catalog_sync::WalkUndoneDetail(/*rolled_back=*/true));
  }
}

bool IsSkipped(Outcome outcome) {
  return outcome == Outcome::kSkippedTestNumberZero || outcome == Outcome::kSkippedUnknownMode;
}

}  // namespace

void PlanSummary::Count(const AssayPlan& assay) {
  if (IsSkipped(assay.outcome)) {
    ++skipped;
  } else if (assay.visit.action == AssayAction::kDeleted) {
    ++deleted;
  } else {
    ++(assay.outcome == Outcome::kAdded ? added : updated);
  }
}

CatalogPlan PlanCatalogRun(const std::string& source, const std::string& database,
                           const AssaySink& each_assay) {
  CatalogPlan plan;
  RunState state;
  state.sSourceFile = source;
  try {
    LoadSource(state);
    plan.keyword = state.sRunKeyword;
    OpenCopy(state, database);
    Walk(state, plan, each_assay);
  } catch (const Stop& stop) {
    plan.keyword = state.sRunKeyword;
    plan.failure = stop.message;
  } catch (const platform::Error& failure) {
    plan.keyword = state.sRunKeyword;
    plan.failure = catalog_sync::RunFailureMessage(failure, state);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& failure) {
    plan.failure = catalog_sync::RunFailureMessage(catalog_sync::AsPlatformError(failure), state);
  }
  return plan;
}

}  // namespace catalog_package
