#include "platform/core/message_box.h"

#include <cstdio>

#include "platform/core/error.h"

namespace platform {

namespace {

std::string OneLine(const std::string& s) {
  std::string out;
  for (char c : s) out += (c == '\r' || c == '\n') ? ' ' : c;
  return out;
}

}  // namespace

void MessageBox(const std::string& prompt, int /*buttons*/, const std::string& title) {
  std::string text = title + ": ";
  for (std::size_t i = 0; i < prompt.size(); ++i) {
    if (prompt[i] == '\r' && i + 1 < prompt.size() && prompt[i + 1] == '\n') {
      text += '\n';
      ++i;
    } else {
      text += prompt[i];
    }
  }
  text += '\n';
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

void WriteDetail(const std::string& what, const std::string& value) {
  const std::string line = "detail: " + what + ": " + OneLine(value) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void WriteDetails(const Error& error) {
  for (const auto& [what, value] : error.details()) WriteDetail(what, value);
}

std::string ErrorNumberLine(long number, const std::string& description) {
  return "Error Number: " + std::to_string(number) + " " + description;
}

}  // namespace platform
