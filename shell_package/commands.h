// The subcommands of ShellPackage. Each takes the arguments after its name
// (with --json already taken out) and returns the exit status: 0 nothing
// found / the upgrade would succeed, 1 problems found / it would fail, 2
// wrong usage.
#pragma once

#include <iostream>
#include <string>
#include <vector>

namespace shell_package {

using Arguments = std::vector<std::string>;

struct Options {
  bool json = false;  // one JSON document on stdout instead of text
};

// check <shell> [<database>] [--mode INSTALL|ERU]
int RunCheck(const Arguments& args, const Options& options);
// plan "<command line>" <shell folder> <database> [--html <file>]
int RunPlan(const Arguments& args, const Options& options);

// "ShellPackage: <text>" on stderr.
inline void ReportFailure(const std::string& text) {
  std::cerr << "ShellPackage: " << text << '\n';
}

}  // namespace shell_package
