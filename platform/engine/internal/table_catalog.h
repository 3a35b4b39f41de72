// The tables of a database and their columns, read from the schema once and
// kept until the schema may have changed (Invalidate after any DDL).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/engine/internal/statement_cache.h"

namespace platform::engine::internal {

struct ColumnInfo {
  std::string name;
  std::string declared_type;
  bool primary_key = false;
};

struct TableInfo {
  std::string name;  // as stored in the schema
  std::vector<ColumnInfo> columns;
  // The column named `name` without regard to case; throws kUnknownField.
  const ColumnInfo& Column(std::string_view name) const;
};

class TableCatalog {
 public:
  // The table named `table` without regard to case; throws kUnknownTable.
  // The reference stays valid until Invalidate().
  const TableInfo& Table(StatementCache& statements, std::string_view table);
  void Invalidate() { tables_.clear(); }

 private:
  std::map<std::string, TableInfo, std::less<>> tables_;  // by upper-cased name
};

}  // namespace platform::engine::internal
