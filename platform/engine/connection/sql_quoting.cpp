#include "platform/engine/connection/sql_quoting.h"

#include <string>
#include <string_view>

namespace platform::engine {

namespace {

// `text` between two `quote` characters, each one inside doubled.
std::string QuoteWith(char quote, std::string_view text) {
  std::string quoted(1, quote);
  for (char c : text) {
    quoted += c;
    if (c == quote) quoted += quote;
  }
  return quoted + quote;
}

}  // namespace

std::string QuoteIdentifier(std::string_view name) {
  return QuoteWith('"', name);
}

std::string QuoteSqlString(std::string_view text) {
  return QuoteWith('\'', text);
}

}  // namespace platform::engine
