// The message box of the original platform: written to standard error as
// "<title>: <prompt>", the prompt's CR LF turned into line breaks; the run
// goes on as if OK had been pressed.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform {

class Error;

// Buttons values the programs use (they add nothing to the text).
inline constexpr int kCriticalOkOnly = 16;
inline constexpr int kOkOnly = 0;

void MessageBox(const std::string& prompt, int buttons, const std::string& title);

// "detail: <what>: <value>", one line each, after a box.
void WriteDetail(const std::string& what, const std::string& value);
void WriteDetails(const Error& error);

// "Error Number: <n> <description>", the general prompt's second line.
std::string ErrorNumberLine(long number, const std::string& description);

// A box and the `detail:` lines after it, as data: what a program tells the
// operator, built once so that a tool that only reports what a run would say
// says exactly the same.
struct BoxMessage {
  std::string title;
  std::string prompt;
  std::vector<std::pair<std::string, std::string>> details;  // what, value
};

// The text that ShowBox writes to standard error: the box line(s) and the
// detail lines, each ending in a line feed.
std::string BoxText(const BoxMessage& message);

// MessageBox(prompt, buttons, title), then the detail lines.
void ShowBox(const BoxMessage& message, int buttons);

// Every box and detail line this process has shown so far, as written to
// standard error (also when the write itself was lost): what a run's record
// keeps as the operator's view of its outcome. The reference stays valid
// for the process's life; it grows with each message.
const std::string& MessagesShown();

}  // namespace platform
