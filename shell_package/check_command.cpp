// check: the shell's faults as text or JSON.
#include <iostream>
#include <nlohmann/json.hpp>

#include "platform/core/text.h"
#include "shell_package/check.h"
#include "shell_package/commands.h"

namespace shell_package {

namespace {

nlohmann::json FindingsJson(const std::vector<Finding>& findings) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& f : findings) list.push_back({{"where", f.where}, {"what", f.what}});
  return list;
}

void PrintJson(const CheckReport& report) {
  const nlohmann::json document = {
      {"shell", report.shell},
      {"database", report.database ? nlohmann::json(*report.database) : nlohmann::json()},
      {"mode", report.mode},
      {"problems", FindingsJson(report.problems)},
      {"notes", FindingsJson(report.notes)}};
  std::cout << document.dump(2) << '\n';
}

void PrintText(const CheckReport& report) {
  std::cout << "shell " << report.shell << " (mode " << report.mode << ")";
  if (report.database) std::cout << " against " << *report.database;
  std::cout << '\n';
  for (const auto& f : report.problems)
    std::cout << "problem: " << f.where << ": " << f.what << '\n';
  for (const auto& f : report.notes) std::cout << "note: " << f.where << ": " << f.what << '\n';
  std::cout << report.problems.size() << (report.problems.size() == 1 ? " problem" : " problems")
            << '\n';
}

// Takes "--mode <word>" out of `args`; false when the word is no mode.
bool TakeMode(Arguments& args, std::optional<std::string>& mode) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it != "--mode") continue;
    if (it + 1 == args.end()) return false;
    mode = platform::UpperTrim(*(it + 1));
    args.erase(it, it + 2);
    return *mode == "INSTALL" || *mode == "ERU";
  }
  return true;
}

}  // namespace

int RunCheck(const Arguments& arguments, const Options& options) {
  Arguments args = arguments;
  std::optional<std::string> mode;
  if (!TakeMode(args, mode) || args.empty() || args.size() > 2) return 2;
  const std::optional<std::string> database =
      args.size() == 2 ? std::optional<std::string>(args[1]) : std::nullopt;
  try {
    const CheckReport report = CheckShell(args[0], database, mode ? *mode : ModeOfShell(args[0]));
    options.json ? PrintJson(report) : PrintText(report);
    return report.problems.empty() ? 0 : 1;
  } catch (const platform::Error& error) {
    ReportFailure(DescribeError(error));
    return 1;
  }
}

}  // namespace shell_package
