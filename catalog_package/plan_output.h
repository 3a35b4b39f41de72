// A catalogue plan for people (text) and for scripts (JSON, see README.md).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "catalog_package/catalog_plan.h"

namespace catalog_package {

// How many assays of the plan were added, updated, deleted (every DELETE
// that ran, whatever it found) and skipped.
struct PlanSummary {
  std::int64_t added = 0, updated = 0, deleted = 0, skipped = 0;
};
PlanSummary Summarize(const CatalogPlan& plan);

// One block per assay, the failure as the run would show it, a summary line.
std::string PlanText(const CatalogPlan& plan);

nlohmann::ordered_json PlanJson(const CatalogPlan& plan, const std::string& source,
                                const std::string& database);

}  // namespace catalog_package
