#include "reshaper/command_line.h"

#include <vector>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "reshaper/mod_main.h"

namespace reshaper {

namespace {

std::vector<std::string> SplitAtCommas(const std::string& text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    words.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return words;
    start = comma + 1;
  }
}

[[noreturn]] void Refuse(const std::string& what, const std::string& value,
                         const std::string& cause) {
  throw platform::Error(failure_code::kParameterError,
                        FailureMessage(failure_code::kParameterError))
      .AddDetail(what, '"' + value + '"')
      .AddDetail("cause", cause)
      .AddDetail("usage", kUsage);
}

}  // namespace

CommandLine ReadCommandLine(const std::string& sCommandLine,
                            const std::function<void(const std::string& sMode)>& on_mode_word) {
  const std::vector<std::string> words = SplitAtCommas(sCommandLine);
  if (words.size() < 2) Refuse("command line", sCommandLine, "fewer than two words");
  CommandLine line;
  for (const auto& raw : words) {
    const std::string word = platform::UpperTrim(raw);
    if (word == "INSTALL" || word == "ERU") {
      line.sMode = word;
      on_mode_word(word);
    } else if (word == "QUERY") {
      line.bQuery = true;
    } else if (word == "STRUCTURE") {
      line.bStructure = true;
    } else if (word == "VERSION") {
      line.bVersion = true;
    } else {
      Refuse("word", raw, "not a keyword");
    }
  }
  if (line.sMode.empty()) Refuse("command line", sCommandLine, "no mode word INSTALL or ERU");
  return line;
}

}  // namespace reshaper
