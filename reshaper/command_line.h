// Reshaper's command line: comma-separated words, each trimmed of spaces and
// upper-cased before it is compared, naming a mode ("INSTALL" or "ERU") and
// the steps to run ("QUERY", "STRUCTURE", "VERSION").
#pragma once

#include <functional>
#include <string>

namespace reshaper {

struct CommandLine {
  std::string sMode;  // the last mode word read: "INSTALL" or "ERU"
  bool bQuery = false;
  bool bStructure = false;
  bool bVersion = false;
};

inline constexpr const char* kUsage = "Reshaper INSTALL|ERU[,QUERY][,STRUCTURE][,VERSION]";

// Reads `sCommandLine` word by word, first to last, calling `on_mode_word`
// with each mode word as it is read (the driver copies that mode's shell
// there, so a refusal after a mode word still finds the copy made). Throws
// the parameter error, with `detail:` facts, when there are fewer than two
// words, a word is no keyword (words after it are not read) or no mode word
// appeared.
CommandLine ReadCommandLine(const std::string& sCommandLine,
                            const std::function<void(const std::string& sMode)>& on_mode_word);

}  // namespace reshaper
