// ShellPackage: checks a shell database before it ships, and previews the
// upgrade Reshaper would make with it, without touching any file.
//   ShellPackage check <shell> [<database>] [--mode INSTALL|ERU] [--json]
//   ShellPackage plan "<command line>" <shell folder> <database> [--json] [--html <file>]
#include <algorithm>

#include "platform/core/standard_options.h"
#include "shell_package/commands.h"

namespace shell_package {
namespace {

// The subcommand `run` with --json, wherever it stands, taken out of its
// arguments into its options.
std::function<int(const Arguments&)> WithOptions(int (*run)(const Arguments&, const Options&)) {
  return [run](Arguments args) {
    Options options;
    const auto json = std::find(args.begin(), args.end(), "--json");
    if (json != args.end()) {
      options.json = true;
      args.erase(json);
    }
    return run(args, options);
  };
}

}  // namespace
}  // namespace shell_package

int main(int argc, char** argv) {
  using namespace shell_package;
  static const platform::Subcommand kSubcommands[] = {
      {"check", "check <shell> [<database>] [--mode INSTALL|ERU] [--json]", WithOptions(RunCheck)},
      {"plan", "plan \"<command line>\" <shell folder> <database> [--json] [--html <file>]",
       WithOptions(RunPlan)},
  };
  return platform::RunSubcommands("ShellPackage", kSubcommands, argc, argv);
}
