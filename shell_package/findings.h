// What the checks and plans of ShellPackage report: facts that name the row,
// statement or query they are about.
#pragma once

#include <string>
#include <vector>

#include "platform/core/error.h"

namespace shell_package {

struct Finding {
  std::string where;  // "StructureInfo row 3 (Tests.Tests_Barcode)", "query qryActive", ...
  std::string what;
};

// An error as one line: number, description and its facts.
std::string DescribeError(const platform::Error& error);

}  // namespace shell_package
