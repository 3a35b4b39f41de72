#include <iostream>
#include <optional>
#include <utility>

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

// The source's size and SHA-256, read on a thread of its own while the plan
// runs (a package of megabytes); none when the source cannot be read: the
// plan reports it as the run would.
class SourceDigest {
 public:
  explicit SourceDigest(const std::string& source) {
    try {
      digest_.emplace(source);
    } catch (const platform::Error&) {
      // None: it cannot be opened.
    }
  }
  std::optional<FileDigest> Get() const {
    if (!digest_) return std::nullopt;
    try {
      return digest_->Get();
    } catch (const platform::Error&) {
      return std::nullopt;
    }
  }

 private:
  std::optional<platform::history::FileDigestInBackground> digest_;
};

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
  const SourceDigest digest(options->source);
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
    std::cout << PlanJson(plan, std::move(assays), options->source, digest.Get(), options->database)
                     .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
  } else {
    // Each block is printed as soon as its assay was handled, the source's
    // line first, once its digest is read.
    bool source_shown = false;
    const auto show_source = [&] {
      if (!std::exchange(source_shown, true)) {
        std::cout << SourceText(options->source, digest.Get());
      }
    };
    plan = PlanCatalogRun(options->source, options->database,
                          [&](const AssayPlan& assay, Database& copy) {
                            show_source();
                            std::cout << AssayText(assay);
                            propose(assay, copy);
                          });
    show_source();
    std::cout << EndText(plan);
  }
  if (options->html && !plan.failure && !WriteProposal(*options, plan, std::move(changes))) {
    return 1;
  }
  return Finish(plan);
}

}  // namespace catalog_package
