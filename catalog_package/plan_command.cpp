#include <iostream>

#include "catalog_package/catalog_plan.h"
#include "catalog_package/commands.h"
#include "catalog_package/plan_output.h"

namespace catalog_package {

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
  const CatalogPlan plan = PlanCatalogRun(paths[0], paths[1]);
  if (json) {
    std::cout << PlanJson(plan, paths[0], paths[1])
                     .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
  } else {
    std::cout << PlanText(plan);
  }
  std::cout.flush();
  if (!std::cout) return 1;
  return plan.failure ? 1 : 0;
}

}  // namespace catalog_package
