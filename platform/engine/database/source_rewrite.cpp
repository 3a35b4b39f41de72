#include "platform/engine/database/source_rewrite.h"

#include "platform/core/text.h"
#include "platform/engine/connection/engine_error.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/sql_quoting.h"
#include "platform/engine/database/sql_scanner.h"

namespace platform::engine::internal {

namespace {

// The position after the select list when it is "*" or "<table>.*".
bool SkipOneTableList(SqlScanner& scanner, std::string_view table) {
  if (scanner.Char('*')) return true;
  const std::string name = scanner.Identifier();
  return !name.empty() && UpperCase(name) == UpperCase(table) && scanner.Char('.') &&
         scanner.Char('*');
}

}  // namespace

std::string RowidSelect(std::string_view table, std::string_view select_sql) {
  SqlScanner scanner(select_sql);
  if (scanner.Keyword("SELECT")) {
    const std::size_t list_start = scanner.SkipSpace();
    if (SkipOneTableList(scanner, table)) {
      const std::size_t list_end = scanner.position();
      if (scanner.Keyword("FROM")) {
        return std::string(select_sql.substr(0, list_start)) + QuoteIdentifier(table) + ".rowid" +
               std::string(select_sql.substr(list_end));
      }
    }
  }
  throw EngineFailure(engine_err::kUnsupportedSource)
      .AddDetail("table", std::string(table))
      .AddDetail("SQL", std::string(select_sql));
}

}  // namespace platform::engine::internal
