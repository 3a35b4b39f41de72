// A catalogue plan for people (text) and for scripts (JSON, see README.md).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "catalog_package/catalog_plan.h"
#include "platform/history/digest.h"

namespace catalog_package {

using platform::history::FileDigest;

// The first line: the source by its size and SHA-256, which the run's
// record in the change history will name; nothing when it cannot be read
// (the plan's failure then says why).
std::string SourceText(const std::string& source, const std::optional<FileDigest>& digest);

// One assay's block.
std::string AssayText(const AssayPlan& assay);
// What follows the blocks: the failure as the run would show it, and the
// summary line.
std::string EndText(const CatalogPlan& plan);

nlohmann::ordered_json AssayJson(const AssayPlan& assay);
// The whole document around the assays' objects.
nlohmann::ordered_json PlanJson(const CatalogPlan& plan, nlohmann::ordered_json assays,
                                const std::string& source, const std::optional<FileDigest>& digest,
                                const std::string& database);

}  // namespace catalog_package
