#pragma once

#include <ostream>
#include <string_view>

namespace platform {

// The GNU standard options of the companion tools: `--help` and `--version`
// as the first argument (whatever follows them). Writes the answer to
// standard output (`usage` writes the usage text to the stream it is given)
// and returns true when `first_argument` is one of them; writes nothing and
// returns false otherwise. The unattended programs take no such options:
// their command lines are fixed.
bool AnswerStandardOption(std::string_view first_argument, std::string_view program,
                          void (*usage)(std::ostream&));

}  // namespace platform
