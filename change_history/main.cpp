// ChangeHistory: reads the change history that CatalogSync and Reshaper
// write, never writing it.
//   ChangeHistory [--history <file>] list [--json]
//   ChangeHistory [--history <file>] show <run> [--json]
//   ChangeHistory [--history <file>] verify [--json]
//   ChangeHistory [--history <file>] report <run> --html <file>
#include <algorithm>
#include <string_view>

#include "change_history/commands.h"
#include "platform/core/files.h"
#include "platform/core/standard_options.h"

int main(int argc, char** argv) {
  using namespace change_history;
  // The history the programs write when the install log's folder exists.
  std::string history = platform::SystemPath("C:\\Corvista1000\\Logs\\ChangeHistory.db");
  std::vector<char*> rest(argv, argv + argc);
  if (argc > 1 && std::string_view(argv[1]) == "--history") {
    // Without its file the option leaves no command: the usage then says why.
    if (argc > 2) history = argv[2];
    rest.erase(rest.begin() + 1, rest.begin() + std::min(argc, 3));
  }
  const auto with_history = [&](int (*run)(Arguments, const std::string&)) {
    return [run, &history](const Arguments& args) { return run(args, history); };
  };
  const platform::Subcommand subcommands[] = {
      {"list", "[--history <file>] list [--json]  the runs, one line each", with_history(RunList)},
      {"show",
       "[--history <file>] show <run> [--json]  the run's record: who ran what on which\n"
       "                   file, every change (before \u2192 after) and how it ended",
       with_history(RunShow)},
      {"verify", "[--history <file>] verify [--json]  checks the chain of seals",
       with_history(RunVerify)},
      {"report", "[--history <file>] report <run> --html <file>  the run's printable report",
       with_history(RunReport)},
  };
  return platform::RunSubcommands("ChangeHistory", subcommands, static_cast<int>(rest.size()),
                                  rest.data());
}
