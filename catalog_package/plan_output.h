// A catalogue plan for people (text) and for scripts (JSON, see README.md).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "catalog_package/catalog_plan.h"

namespace catalog_package {

// One assay's block.
std::string AssayText(const AssayPlan& assay);
// What follows the blocks: the failure as the run would show it, and the
// summary line.
std::string EndText(const CatalogPlan& plan);

nlohmann::ordered_json AssayJson(const AssayPlan& assay);
// The whole document around the assays' objects.
nlohmann::ordered_json PlanJson(const CatalogPlan& plan, nlohmann::ordered_json assays,
                                const std::string& source, const std::string& database);

}  // namespace catalog_package
