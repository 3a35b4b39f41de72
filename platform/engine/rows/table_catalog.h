// The tables of a database and their columns, read from the schema once and
// kept until the schema may have changed (Invalidate after any DDL).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/engine/connection/statement_cache.h"
#include "platform/engine/rows/column_type.h"

namespace platform::engine::internal {

struct ColumnInfo {
  std::string name;
  std::string declared_type;
  // 1, 2, ... in the declared primary key; 0 for a column not in it.
  int key_position = 0;
  // Derived once from the two above: row writes use them for every value.
  DeclaredType type;
  std::string quoted_name;  // QuoteIdentifier(name)
};

struct TableInfo {
  std::string name;  // as stored in the schema
  std::string quoted_name;
  std::vector<ColumnInfo> columns;
  // The statements of row writes by the columns they assign (their
  // positions in `columns`, two bytes each): built once per shape, as a
  // writer assigns the same columns row after row.
  mutable std::map<std::string, std::string, std::less<>> insert_sql, update_sql;
  // The statements of FirstRow by their condition, of ReadField by column.
  mutable std::map<std::string, std::string, std::less<>> first_row_sql, read_sql;
  // The column named `name` without regard to case; throws kUnknownField.
  const ColumnInfo& Column(std::string_view name) const;
  // The same, the column at `hint` (a position in `columns`) tried first: a
  // writer sets a row's columns mostly in table order.
  const ColumnInfo& Column(std::string_view name, std::size_t hint) const;
};

class TableCatalog {
 public:
  // The table named `table` without regard to case; throws kUnknownTable.
  // The reference stays valid until Invalidate().
  const TableInfo& Table(StatementCache& statements, std::string_view table);
  void Invalidate() {
    by_spelling_.clear();
    tables_.clear();
  }

 private:
  std::map<std::string, TableInfo, std::less<>> tables_;  // by upper-cased name
  // The same tables by the spellings callers used, so that a lookup by a
  // known spelling costs no case folding.
  std::map<std::string, const TableInfo*, std::less<>> by_spelling_;
};

}  // namespace platform::engine::internal
