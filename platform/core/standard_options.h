// The command line of the companion tools: `<program> <command>
// <arguments...>`, with the GNU standard options `--help` and `--version`.
// The unattended programs take no such options: their command lines are
// fixed.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct Subcommand {
  std::string_view name;
  // What follows "<program> " in the usage text; may span lines.
  std::string_view usage;
  // Runs with the arguments after the name; returns the exit status, 2 for
  // wrong usage.
  std::function<int(const std::vector<std::string>&)> run;
};

// `--help` or `--version` as the first argument (whatever follows) is
// answered on standard output with status 0. Otherwise runs the subcommand
// that the first argument names; when there is none, or it returns 2, the
// usage text goes to standard error and the status is 2.
int RunSubcommands(std::string_view program, std::span<const Subcommand> subcommands, int argc,
                   char** argv);

}  // namespace platform
