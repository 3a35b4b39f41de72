#include <iostream>

#include "catalog_package/catalog_plan.h"
#include "catalog_package/commands.h"
#include "catalog_package/plan_output.h"
#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/message_box.h"
#include "platform/history/report.h"
#include "platform/history/writer.h"

namespace catalog_package {

namespace {

using platform::engine::Database;
using platform::history::Change;

struct PlanOptions {
  bool json = false;
  std::optional<std::string> html;
  std::string source;
  std::string database;
};

// plan [--json] [--html <file>] <source> <database>: the options may stand
// anywhere.
std::optional<PlanOptions> ReadOptions(const Arguments& args) {
  PlanOptions options;
  std::vector<std::string> paths;
  for (auto arg = args.begin(); arg != args.end(); ++arg) {
    if (*arg == "--json") {
      options.json = true;
    } else if (*arg == "--html" && arg + 1 != args.end()) {
      options.html = *++arg;
    } else if (arg->starts_with("-")) {
      return std::nullopt;
    } else {
      paths.push_back(*arg);
    }
  }
  if (paths.size() != 2) return std::nullopt;
  options.source = paths[0];
  options.database = paths[1];
  return options;
}

std::optional<FileDigest> SourceDigest(const std::string& source) {
  try {
    return platform::history::DigestFile(source);
  } catch (const platform::Error&) {
    return std::nullopt;  // the plan reports the source as the run would
  }
}

// The plan as a proposed change in the change history's report, to be
// signed before the run: the header the run would write (its command line,
// database and source) and the assays' row changes as the run records them.
// Written only for a plan that would succeed.
bool WriteProposal(const PlanOptions& options, const CatalogPlan& plan,
                   std::vector<Change> changes) {
  try {
    platform::history::RunRecord record;
    record.header =
        platform::history::StartRun("CatalogSync", plan.keyword, options.database, options.source);
    record.changes = std::move(changes);
    platform::WriteFileAtomically(*options.html,
                                  RenderReport(record, platform::history::ReportKind::kPlan));
    return true;
  } catch (const platform::Error& error) {
    ReportFailure(*options.html + ": " + std::to_string(error.number()) + " " +
                  error.description());
    platform::WriteDetails(error);
    return false;
  }
}

int Finish(const CatalogPlan& plan) {
  std::cout.flush();
  if (!std::cout) return 1;
  return plan.failure ? 1 : 0;
}

}  // namespace

int RunPlan(const Arguments& args) {
  const std::optional<PlanOptions> options = ReadOptions(args);
  if (!options) return 2;
  const std::optional<FileDigest> digest = SourceDigest(options->source);
  std::vector<Change> changes;
  const auto propose = [&](const AssayPlan& assay, Database& copy) {
    if (!options->html) return;
    std::vector<Change> rows = platform::history::RowChanges(
        copy, "assay " + std::to_string(assay.visit.nTestNumber), assay.changes);
    changes.insert(changes.end(), std::make_move_iterator(rows.begin()),
                   std::make_move_iterator(rows.end()));
  };
  CatalogPlan plan;
  if (options->json) {
    nlohmann::ordered_json assays = nlohmann::ordered_json::array();
    plan = PlanCatalogRun(options->source, options->database,
                          [&](const AssayPlan& assay, Database& copy) {
                            assays.push_back(AssayJson(assay));
                            propose(assay, copy);
                          });
    std::cout << PlanJson(plan, std::move(assays), options->source, digest, options->database)
                     .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
  } else {
    // Each block is printed as soon as its assay was handled.
    std::cout << SourceText(options->source, digest);
    plan = PlanCatalogRun(options->source, options->database,
                          [&](const AssayPlan& assay, Database& copy) {
                            std::cout << AssayText(assay);
                            propose(assay, copy);
                          });
    std::cout << EndText(plan);
  }
  if (options->html && !plan.failure && !WriteProposal(*options, plan, std::move(changes))) {
    return 1;
  }
  return Finish(plan);
}

}  // namespace catalog_package
