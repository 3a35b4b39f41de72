#include "catalog_sync/run/update_assays.h"

#include <cstdint>
#include <string>
#include <vector>

#include "catalog_sync/db/assay_writer.h"
#include "catalog_sync/run/failure_box.h"
#include "platform/core/error.h"
#include "platform/core/text.h"

namespace catalog_sync {

namespace {

// The assay's position as the walk's 16-bit counter; a collection beyond it
// overflows as the counter would.
std::int16_t AssayCount(const AssayCollection& colAssay) {
  if (colAssay.Count() > INT16_MAX) throw platform::Error(platform::err::kOverflow);
  return static_cast<std::int16_t>(colAssay.Count());
}

AssayAction Dispatch(RunState& state, const AssayVisit& visit) {
  if (visit.nTestNumber == 0) return AssayAction::kSkippedTestNumberZero;
  platform::engine::Database& db = *state.connection;
  if (visit.sMode == "DELETE") {
    db::DeleteAssay(db, visit.nTestNumber, visit.sTestName);
    return AssayAction::kDeleted;
  }
  if (visit.sMode == "MODIFY" || visit.sMode == "ADD") {
    const db::Catalogue catalogue{state.colAssay, state.colObjTV, state.sRunKeyword};
    db::AddModifyAssay(db, catalogue, visit.nPosition, visit.nTestNumber);
    return AssayAction::kAddedOrModified;
  }
  return AssayAction::kSkippedUnknownMode;
}

platform::BoxMessage FailureMessage(std::int16_t nTestNumber, const std::string& where,
                                    const platform::Error& failure) {
  std::vector<platform::Error::Detail> leading;
  if (!where.empty()) leading.emplace_back("assay", where);
  return UnexpectedErrorMessage(UpdateAssayTitle(nTestNumber), failure, leading);
}

}  // namespace

std::string UpdateAssayTitle(std::int16_t nTestNumber) {
  return "UpdateAssay " + std::to_string(nTestNumber);
}

std::optional<platform::BoxMessage> WalkAssays(RunState& state, const AssayObserver& after_each) {
  std::int16_t nTestNumber = 0;  // the test number most recently read
  std::string where;             // the assay being handled, for the detail line
  try {
    const std::int16_t n = AssayCount(state.colAssay);
    for (std::int16_t j = 1; j <= n; ++j) {
      const Assay& assay = state.colAssay.Item(j);
      nTestNumber = assay.TestNumber();
      AssayVisit visit{j, nTestNumber, assay.Mode(),
                       platform::UpperCase(platform::TrimSpaces(assay.TestName())),
                       AssayAction::kSkippedUnknownMode};
      where = "position " + std::to_string(j) + ", test " + std::to_string(nTestNumber) +
              ", mode " + visit.sMode;
      visit.action = Dispatch(state, visit);
      if (after_each) after_each(visit);
    }
    return std::nullopt;
  } catch (const platform::Error& failure) {
    return FailureMessage(nTestNumber, where, failure);
  } catch (const std::exception& failure) {
    return FailureMessage(nTestNumber, where, AsPlatformError(failure));
  }
}

std::pair<std::string, std::string> WalkUndoneDetail(bool rolled_back) {
  return {"database", rolled_back ? "rolled back to its state before the run"
                                  : "restored from the backup copy"};
}

}  // namespace catalog_sync
