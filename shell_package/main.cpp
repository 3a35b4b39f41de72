// ShellPackage: checks a shell database before it ships, and previews the
// upgrade Reshaper would make with it, without touching any file.
//   ShellPackage check <shell> [<database>] [--mode INSTALL|ERU] [--json]
//   ShellPackage plan "<command line>" <shell folder> <database> [--json]
#include <algorithm>
#include <iostream>
#include <ostream>
#include <string_view>

#include "platform/core/standard_options.h"
#include "shell_package/commands.h"

namespace shell_package {
namespace {

struct Subcommand {
  std::string_view name;
  std::string_view usage;
  int (*run)(const Arguments&, const Options&);
};

constexpr Subcommand kSubcommands[] = {
    {"check", "check <shell> [<database>] [--mode INSTALL|ERU] [--json]", RunCheck},
    {"plan", "plan \"<command line>\" <shell folder> <database> [--json]", RunPlan},
};

void WriteUsage(std::ostream& out) {
  out << "usage: ShellPackage <command> <arguments>\n";
  for (const Subcommand& s : kSubcommands) out << "  ShellPackage " << s.usage << '\n';
  out << "  ShellPackage --help | --version\n";
}

int Usage() {
  WriteUsage(std::cerr);
  return 2;
}

}  // namespace

void ReportFailure(const std::string& text) {
  std::cerr << "ShellPackage: " << text << '\n';
}

}  // namespace shell_package

int main(int argc, char** argv) {
  using namespace shell_package;
  if (argc < 2) return Usage();
  if (platform::AnswerStandardOption(argv[1], "ShellPackage", WriteUsage)) return 0;
  Arguments args(argv + 2, argv + argc);
  Options options;
  const auto json = std::find(args.begin(), args.end(), "--json");
  if (json != args.end()) {
    options.json = true;
    args.erase(json);
  }
  for (const Subcommand& s : kSubcommands) {
    if (s.name == argv[1]) {
      const int status = s.run(args, options);
      return status == 2 ? Usage() : status;
    }
  }
  return Usage();
}
