#include "shell_package/findings.h"

namespace shell_package {

std::string DescribeError(const platform::Error& error) {
  std::string text = std::to_string(error.number()) + " " + error.description();
  for (const auto& [what, value] : error.details()) text += "; " + what + ": " + value;
  return text;
}

}  // namespace shell_package
