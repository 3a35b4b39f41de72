// The subcommands of CatalogPackage. Each takes the arguments after its
// name and returns the exit status: 0 done, 1 failed (told on stderr),
// 2 wrong usage.
#pragma once

#include <iostream>
#include <string>
#include <vector>

namespace catalog_package {

using Arguments = std::vector<std::string>;

// dump <package>: the package's catalogue as JSON on stdout.
int RunDump(const Arguments& args);
// build <json> <package>: writes the package of a JSON catalogue.
int RunBuild(const Arguments& args);

// plan [--json] [--html <file>] <source> <database>: what a CatalogSync run
// of the package or workbook <source> would do to <database>, which is left
// untouched; with --html, also as the printable proposed change.
int RunPlan(const Arguments& args);

// "CatalogPackage: <text>" on stderr.
inline void ReportFailure(const std::string& text) {
  std::cerr << "CatalogPackage: " << text << '\n';
}

}  // namespace catalog_package
