#include <iostream>

#include "catalog_package/catalog_plan.h"
#include "catalog_package/commands.h"
#include "catalog_package/plan_output.h"

namespace catalog_package {

namespace {

int Finish(const CatalogPlan& plan) {
  std::cout.flush();
  if (!std::cout) return 1;
  return plan.failure ? 1 : 0;
}

}  // namespace

// plan [--json] <source> <database>: the option may stand anywhere.
int RunPlan(const Arguments& args) {
  bool json = false;
  std::vector<std::string> paths;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (arg.starts_with("-")) {
      return 2;
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() != 2) return 2;
  if (json) {
    nlohmann::ordered_json assays = nlohmann::ordered_json::array();
    const CatalogPlan plan = PlanCatalogRun(
        paths[0], paths[1], [&](const AssayPlan& assay) { assays.push_back(AssayJson(assay)); });
    std::cout << PlanJson(plan, std::move(assays), paths[0], paths[1])
                     .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
    return Finish(plan);
  }
  // Each block is printed as soon as its assay was handled.
  const CatalogPlan plan = PlanCatalogRun(
      paths[0], paths[1], [](const AssayPlan& assay) { std::cout << AssayText(assay); });
  std::cout << EndText(plan);
  return Finish(plan);
}

}  // namespace catalog_package
