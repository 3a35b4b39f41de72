// The printable report of one run, or of a plan: one self-contained HTML
// page (a print stylesheet, no script, nothing fetched) with the run's
// header, its changes per group as before/after tables, and the signature
// blocks. Every text of a record is escaped: a name holding markup shows as
// those characters.
#pragma once

#include <string>

#include "platform/history/record.h"

namespace platform::history {

enum class ReportKind {
  kRun,   // a run from the history, with its outcome and chain hash
  kPlan,  // a proposed change: what a run would do, to be signed before it
};

std::string RenderReport(const RunRecord& record, ReportKind kind);

}  // namespace platform::history
