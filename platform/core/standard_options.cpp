#include "platform/core/standard_options.h"

#include <iostream>

namespace platform {

bool AnswerStandardOption(std::string_view first_argument, std::string_view program,
                          void (*usage)(std::ostream&)) {
  if (first_argument == "--help") {
    usage(std::cout);
  } else if (first_argument == "--version") {
    std::cout << program << " (" CORVISTA_PACKAGE_NAME ") " CORVISTA_VERSION "\n";
  } else {
    return false;
  }
  std::cout.flush();
  return true;
}

}  // namespace platform
