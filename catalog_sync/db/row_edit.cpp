#include "catalog_sync/db/row_edit.h"

namespace catalog_sync::db {

RowEdit RowEdit::NewRow(std::string table) {
  return RowEdit(std::move(table), std::nullopt);
}

RowEdit RowEdit::Existing(std::string table, platform::engine::RowId row) {
  return RowEdit(std::move(table), row);
}

void RowEdit::Set(std::string column, platform::Value value) {
  pending_.emplace_back(std::move(column), std::move(value));
}

void RowEdit::Update(platform::engine::Database& db) {
  if (row_) {
    db.UpdateRow(table_, *row_, pending_);
  } else {
    row_ = db.InsertRow(table_, pending_);
  }
  pending_.clear();
}

}  // namespace catalog_sync::db
