#include "platform/engine/rows/table_catalog.h"

#include "platform/core/text.h"
#include "platform/engine/connection/engine_error.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/sql_quoting.h"

namespace platform::engine::internal {

namespace {

std::string StoredTableName(StatementCache& statements, std::string_view table) {
  const std::string wanted = UpperCase(table);
  StatementUse names(
      statements.Get("SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name = ? DESC"));
  names->Bind(1, Value(std::string(table)));
  while (names->Step()) {
    std::string name = names->Column(0).ToText();
    if (UpperCase(name) == wanted) return name;
  }
  throw EngineFailure(engine_err::kUnknownTable).AddDetail("table", std::string(table));
}

std::vector<ColumnInfo> ReadColumns(StatementCache& statements, const std::string& table) {
  StatementUse info(statements.Get("SELECT name, type, pk FROM pragma_table_info(?)"));
  info->Bind(1, Value(table));
  std::vector<ColumnInfo> columns;
  while (info->Step()) {
    ColumnInfo& column = columns.emplace_back();
    column.name = info->Column(0).ToText();
    column.declared_type = info->Column(1).ToText();
    column.key_position = static_cast<int>(info->ColumnInt64(2));
    column.type = ParseDeclaredType(column.declared_type);
    column.quoted_name = QuoteIdentifier(column.name);
  }
  return columns;
}

}  // namespace

const ColumnInfo& TableInfo::Column(std::string_view wanted) const {
  for (const ColumnInfo& c : columns) {
    if (c.name == wanted) return c;
  }
  const std::string upper = UpperCase(wanted);
  for (const ColumnInfo& c : columns) {
    if (UpperCase(c.name) == upper) return c;
  }
  throw EngineFailure(engine_err::kUnknownField)
      .AddDetail("table", name)
      .AddDetail("column", std::string(wanted));
}

const ColumnInfo& TableInfo::Column(std::string_view wanted, std::size_t hint) const {
  if (hint < columns.size() && columns[hint].name == wanted) return columns[hint];
  return Column(wanted);
}

const TableInfo& TableCatalog::Table(StatementCache& statements, std::string_view table) {
  if (auto known = by_spelling_.find(table); known != by_spelling_.end()) return *known->second;
  const std::string key = UpperCase(table);
  auto it = tables_.find(key);
  if (it == tables_.end()) {
    TableInfo info;
    info.name = StoredTableName(statements, table);
    info.quoted_name = QuoteIdentifier(info.name);
    info.columns = ReadColumns(statements, info.name);
    it = tables_.emplace(key, std::move(info)).first;
  }
  by_spelling_.emplace(std::string(table), &it->second);
  return it->second;
}

}  // namespace platform::engine::internal
