// Small text helpers with the platform's semantics.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Removes leading and trailing space characters (only ' '; tabs stay).
std::string TrimSpaces(std::string_view s);

// Upper-cases ASCII letters and the Latin-1 letters of UTF-8 text (a-z,
// à-þ except ÷); every other byte stays. The same rule serves the
// programs' comparisons and the engine's UCASE, so both agree.
std::string UpperCase(std::string_view s);

// Upper-cases, then trims spaces: the comparison form of keywords and modes.
inline std::string UpperTrim(std::string_view s) {
  return TrimSpaces(UpperCase(s));
}

// Number of characters (code points) of UTF-8 text; an invalid byte counts as
// one character.
std::size_t CharacterCount(std::string_view utf8);

// True when the text is valid UTF-8.
bool IsValidUtf8(std::string_view s);

}  // namespace platform
