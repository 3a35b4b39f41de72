// verify: the chain of seals walked, each hash recomputed from the stored
// content. A run without a seal is unfinished (killed), not tampered with.
#include <iostream>

#include "change_history/commands.h"

namespace change_history {

namespace {

using nlohmann::ordered_json;

void PrintText(const HistoryReader::Verdict& v) {
  std::cout << v.sealed << (v.sealed == 1 ? " seal" : " seals") << " checked\n";
  for (const std::int64_t run : v.unfinished) std::cout << "run " << run << ": unfinished\n";
  if (v.broken_run) {
    std::cout << "run " << *v.broken_run << " does not match its seal: " << v.broken_reason << '\n';
  } else {
    std::cout << "the chain holds\n";
  }
}

void PrintJsonVerdict(const HistoryReader::Verdict& v, const std::string& history) {
  ordered_json broken = nullptr;
  if (v.broken_run) broken = {{"run", *v.broken_run}, {"reason", v.broken_reason}};
  PrintJson({{"history", history},
             {"sealed", v.sealed},
             {"unfinished", v.unfinished},
             {"holds", !v.broken_run},
             {"broken", std::move(broken)}});
}

}  // namespace

int RunVerify(Arguments args, const std::string& history) {
  const bool json = TakeOption(args, "--json");
  if (!args.empty()) return 2;
  return WithReader(history, [&](HistoryReader& reader) {
    const HistoryReader::Verdict verdict = reader.Verify();
    json ? PrintJsonVerdict(verdict, history) : PrintText(verdict);
    return verdict.broken_run ? 1 : 0;
  });
}

}  // namespace change_history
