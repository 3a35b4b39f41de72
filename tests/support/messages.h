// What a program's standard error holds: one message box line
// "<title>: <prompt>" (the prompt's line breaks kept), then `detail:` lines.
#pragma once

#include <string>

namespace testing_support {

// `err` holds `box` (whole lines, ending in "\n"), and every other line is a
// `detail: ` line, one at least.
void ExpectBoxAndDetails(const std::string& err, const std::string& box);

}  // namespace testing_support
