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

std::string BoxLine(const std::string& prompt, const std::string& title) {
  std::string text = title + ": ";
  for (std::size_t i = 0; i < prompt.size(); ++i) {
    if (prompt[i] == '\r' && i + 1 < prompt.size() && prompt[i + 1] == '\n') {
      text += '\n';
      ++i;
    } else {
      text += prompt[i];
    }
  }
  return text + '\n';
}

std::string DetailLine(const std::string& what, const std::string& value) {
  return "detail: " + what + ": " + OneLine(value) + "\n";
}

std::string& Transcript() {
  static std::string transcript;
  return transcript;
}

void WriteError(const std::string& text) {
  Transcript() += text;
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

void MessageBox(const std::string& prompt, int /*buttons*/, const std::string& title) {
  WriteError(BoxLine(prompt, title));
}

void WriteDetail(const std::string& what, const std::string& value) {
  WriteError(DetailLine(what, value));
}

void WriteDetails(const Error& error) {
  for (const auto& [what, value] : error.details()) WriteDetail(what, value);
}

std::string ErrorNumberLine(long number, const std::string& description) {
  return "Error Number: " + std::to_string(number) + " " + description;
}

std::string BoxText(const BoxMessage& message) {
  std::string text = BoxLine(message.prompt, message.title);
  for (const auto& [what, value] : message.details) text += DetailLine(what, value);
  return text;
}

void ShowBox(const BoxMessage& message, int /*buttons*/) {
  WriteError(BoxText(message));
}

const std::string& MessagesShown() {
  return Transcript();
}

}  // namespace platform
