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

void Dispatch(RunState& state, std::int16_t j, std::int16_t nTestNumber, const std::string& sMode,
              const std::string& sTestName) {
  if (nTestNumber == 0) return;
  platform::engine::Database& db = *state.connection;
  if (sMode == "DELETE") {
    db::DeleteAssay(db, nTestNumber, sTestName);
  } else if (sMode == "MODIFY" || sMode == "ADD") {
    const db::Catalogue catalogue{state.colAssay, state.colObjTV, state.sRunKeyword};
    db::AddModifyAssay(db, catalogue, j, nTestNumber);
  }
}

void ReportFailure(std::int16_t nTestNumber, const std::string& where,
                   const platform::Error& failure) {
  std::vector<platform::Error::Detail> leading;
  if (!where.empty()) leading.emplace_back("assay", where);
  ShowUnexpectedError("UpdateAssay " + std::to_string(nTestNumber), failure, leading);
}

}  // namespace

bool UpdateAssays(RunState& state) {
  std::int16_t nTestNumber = 0;  // the test number most recently read
  std::string where;             // the assay being handled, for the detail line
  try {
    const std::int16_t n = AssayCount(state.colAssay);
    for (std::int16_t j = 1; j <= n; ++j) {
      const Assay& assay = state.colAssay.Item(j);
      nTestNumber = assay.TestNumber();
      const std::string& sMode = assay.Mode();
      const std::string sTestName = platform::UpperCase(platform::TrimSpaces(assay.TestName()));
      where = "position " + std::to_string(j) + ", test " + std::to_string(nTestNumber) +
              ", mode " + sMode;
      Dispatch(state, j, nTestNumber, sMode, sTestName);
    }
    return true;
  } catch (const platform::Error& failure) {
    ReportFailure(nTestNumber, where, failure);
  } catch (const std::exception& failure) {
    ReportFailure(nTestNumber, where, AsPlatformError(failure));
  }
  return false;
}

}  // namespace catalog_sync
