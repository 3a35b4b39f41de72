// CatalogPackage: inspects and authors assay package files without a
// workbook.
//   CatalogPackage dump <package>
//   CatalogPackage build <json> <package>
//   CatalogPackage plan [--json] <source> <database>
#include <iostream>
#include <ostream>
#include <string_view>

#include "catalog_package/commands.h"
#include "platform/core/standard_options.h"

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

void WriteUsage(std::ostream& out) {
  out << "usage: CatalogPackage <command> <arguments>\n";
  for (const Subcommand& s : kSubcommands) out << "  CatalogPackage " << s.usage << '\n';
  out << "  CatalogPackage --help | --version\n";
}

int Usage() {
  WriteUsage(std::cerr);
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
  if (platform::AnswerStandardOption(argv[1], "CatalogPackage", WriteUsage)) return 0;
  const Arguments args(argv + 2, argv + argc);
  for (const Subcommand& s : kSubcommands) {
    if (s.name == argv[1]) {
      const int status = s.run(args);
      return status == 2 ? Usage() : status;
    }
  }
  return Usage();
}
