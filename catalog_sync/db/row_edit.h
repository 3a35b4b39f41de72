// The row a writer fills, as a recordset positioned on it: a new row
// (AddNew) or an existing one, its fields set one by one and then stored
// together.
//
// Nothing reaches the database before Update: the engine converts every set
// value to its column's declared type, and a value a column refuses fails
// the Update with nothing of the row stored.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/core/value.h"
#include "platform/engine/database.h"

namespace catalog_sync::db {

class RowEdit {
 public:
  // A row to add to `table` (AddNew).
  static RowEdit NewRow(std::string table);
  // The existing row `row` of `table`.
  static RowEdit Existing(std::string table, platform::engine::RowId row);

  const std::string& table() const { return table_; }

  // Sets one column of the row. REQUIRES: each column once between Updates.
  void Set(std::string column, platform::Value value);
  // Makes room for `columns` more Sets without growing again: a row takes a
  // few dozen.
  void Reserve(std::size_t columns) { pending_.reserve(pending_.size() + columns); }

  // Stores the fields set since the last Update: inserts a new row (which
  // then becomes the existing row) or overwrites the named columns of the
  // existing one, the others keeping their values. Throws platform::Error.
  void Update(platform::engine::Database& db);

  // The row's id. REQUIRES: an existing row, or a new one after Update.
  platform::engine::RowId row() const { return *row_; }

 private:
  RowEdit(std::string table, std::optional<platform::engine::RowId> row)
      : table_(std::move(table)), row_(row) {}

  std::string table_;
  std::optional<platform::engine::RowId> row_;
  platform::engine::FieldValues pending_;
};

}  // namespace catalog_sync::db
