// Quoting for SQL text that cannot take parameters. Every layer builds SQL
// with these, the table catalog below the Database class too; database.h
// offers them to programs.
#pragma once

#include <string>
#include <string_view>

namespace platform::engine {

// "name" quoted as an SQL identifier (double quotes doubled).
std::string QuoteIdentifier(std::string_view name);
// 'text' quoted as an SQL string literal (single quotes doubled), for SQL
// that cannot take parameters (trigger bodies, view definitions).
std::string QuoteSqlString(std::string_view text);

}  // namespace platform::engine
