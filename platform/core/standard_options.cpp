#include "platform/core/standard_options.h"

#include <algorithm>
#include <iostream>

namespace platform {

namespace {

void WriteUsage(std::ostream& out, std::string_view program,
                std::span<const Subcommand> subcommands) {
  out << "usage: " << program << " <command> <arguments>\n";
  for (const Subcommand& s : subcommands) out << "  " << program << " " << s.usage << '\n';
  out << "  " << program << " --help | --version\n";
  out.flush();
}

}  // namespace

int RunSubcommands(std::string_view program, std::span<const Subcommand> subcommands, int argc,
                   char** argv) {
  const std::string_view first = argc > 1 ? argv[1] : "";
  if (first == "--help") {
    WriteUsage(std::cout, program, subcommands);
    return 0;
  }
  if (first == "--version") {
    std::cout << program << " (" CORVISTA_PACKAGE_NAME ") " CORVISTA_VERSION "\n" << std::flush;
    return 0;
  }
  const auto named = std::find_if(subcommands.begin(), subcommands.end(),
                                  [&](const Subcommand& s) { return s.name == first; });
  const int status =
      named == subcommands.end() ? 2 : named->run(std::vector<std::string>(argv + 2, argv + argc));
  if (status == 2) WriteUsage(std::cerr, program, subcommands);
  return status;
}

}  // namespace platform
