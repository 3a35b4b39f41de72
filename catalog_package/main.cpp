// CatalogPackage: inspects and authors assay package files without a
// workbook.
//   CatalogPackage dump <package>
//   CatalogPackage build <json> <package>
//   CatalogPackage plan [--json] <source> <database>
#include <iostream>
#include <string_view>

#include "catalog_package/commands.h"

namespace catalog_package {
namespace {

struct Subcommand {
  std::string_view name;
  std::string_view usage;
  int (*run)(const Arguments&);
};

constexpr Subcommand kSubcommands[] = {
    {"dump", "dump <package>      print the package's catalogue as JSON", RunDump},
    {"build", "build <json> <package>  write a package from a JSON catalogue", RunBuild},
    {"plan",
     "plan [--json] <source> <database>  what CatalogSync would do with the package or\n"
     "                   workbook <source> to <database>, which stays untouched",
     RunPlan},
};

int Usage() {
  std::cerr << "usage: CatalogPackage <command> <arguments>\n";
  for (const Subcommand& s : kSubcommands) std::cerr << "  CatalogPackage " << s.usage << '\n';
  return 2;
}

}  // namespace

void ReportFailure(const std::string& text) {
  std::cerr << "CatalogPackage: " << text << '\n';
}

}  // namespace catalog_package

int main(int argc, char** argv) {
  using namespace catalog_package;
  if (argc < 2) return Usage();
  const Arguments args(argv + 2, argv + argc);
  for (const Subcommand& s : kSubcommands) {
    if (s.name == argv[1]) {
      const int status = s.run(args);
      return status == 2 ? Usage() : status;
    }
  }
  return Usage();
}
