// A small scanner over the start of an SQL text: enough to recognise the
// leading keywords and the select list that the engine rewrites. It does not
// parse SQL; everything after the recognised prefix is left as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::engine::internal {

class SqlScanner {
 public:
  explicit SqlScanner(std::string_view sql) : sql_(sql) {}

  // Skips spaces and comments; the position of the next token.
  std::size_t SkipSpace();
  // Consumes the keyword (letters, any case) when it is next.
  bool Keyword(std::string_view keyword);
  // Consumes `c` when it is the next character.
  bool Char(char c);
  // Consumes an identifier (bare, "quoted", [bracketed] or `quoted`) and
  // returns its name; "" when none is next.
  std::string Identifier();
  std::size_t position() const { return pos_; }

 private:
  std::string_view sql_;
  std::size_t pos_ = 0;
};

}  // namespace platform::engine::internal
