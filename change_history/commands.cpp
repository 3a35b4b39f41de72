#include "change_history/commands.h"

#include <algorithm>
#include <charconv>
#include <iostream>

#include "platform/core/message_box.h"

namespace change_history {

int WithReader(const std::string& history, const std::function<int(HistoryReader&)>& command) {
  try {
    HistoryReader reader(history);
    return command(reader);
  } catch (const platform::Error& error) {
    ReportFailure(history, error);
    return 1;
  }
}

std::optional<platform::history::RunRecord> ReadRun(HistoryReader& reader,
                                                    const std::string& history,
                                                    std::int64_t number) {
  std::optional<platform::history::RunRecord> record = reader.Read(number);
  if (!record) std::cerr << "ChangeHistory: " << history << ": no run " << number << '\n';
  return record;
}

void ReportFailure(const std::string& file, const platform::Error& error) {
  std::cerr << "ChangeHistory: " << file << ": " << error.number() << ' ' << error.description()
            << '\n';
  platform::WriteDetails(error);
}

std::optional<std::int64_t> RunNumber(const std::string& text) {
  std::int64_t number = 0;
  const char* end = text.data() + text.size();
  const auto [at, failure] = std::from_chars(text.data(), end, number);
  if (failure != std::errc() || at != end || number < 1) return std::nullopt;
  return number;
}

bool TakeOption(Arguments& args, const std::string& name) {
  const auto at = std::find(args.begin(), args.end(), name);
  if (at == args.end()) return false;
  args.erase(at);
  return true;
}

std::optional<std::string> TakeValue(Arguments& args, const std::string& name) {
  const auto at = std::find(args.begin(), args.end(), name);
  if (at == args.end() || at + 1 == args.end()) return std::nullopt;
  std::string value = *(at + 1);
  args.erase(at, at + 2);
  return value;
}

void PrintJson(const nlohmann::ordered_json& document) {
  std::cout << document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
            << '\n';
}

}  // namespace change_history
