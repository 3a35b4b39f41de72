// The message box of the original platform: written to standard error as
// "<title>: <prompt>", the prompt's CR LF turned into line breaks; the run
// goes on as if OK had been pressed.
#pragma once

#include <string>

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

}  // namespace platform
