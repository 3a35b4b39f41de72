// CatalogPackage: inspects and authors assay package files without a
// workbook.
//   CatalogPackage dump <package>
//   CatalogPackage build <json> <package>
//   CatalogPackage plan [--json] [--html <file>] <source> <database>
#include "catalog_package/commands.h"
#include "platform/core/standard_options.h"

int main(int argc, char** argv) {
  using namespace catalog_package;
  static const platform::Subcommand kSubcommands[] = {
      {"dump", "dump <package>      print the package's catalogue as JSON", RunDump},
      {"build", "build <json> <package>  write a package from a JSON catalogue", RunBuild},
      {"plan",
       "plan [--json] [--html <file>] <source> <database>  what CatalogSync would do with\n"
       "                   the package or workbook <source> to <database>, which stays\n"
       "                   untouched; --html: the printable proposed change, for signing",
       RunPlan},
  };
  return platform::RunSubcommands("CatalogPackage", kSubcommands, argc, argv);
}
