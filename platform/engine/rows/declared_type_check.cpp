#include "platform/engine/rows/declared_type_check.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "platform/engine/connection/engine_error.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/triggers_off.h"
#include "platform/engine/rows/column_type.h"
#include "platform/engine/rows/database_core.h"

namespace platform::engine::internal {

ChangedRowRecorder::ChangedRowRecorder(sqlite3* db) : db_(db) {
  sqlite3_update_hook(db_, &ChangedRowRecorder::Record, this);
}

ChangedRowRecorder::~ChangedRowRecorder() {
  sqlite3_update_hook(db_, nullptr, nullptr);
}

void ChangedRowRecorder::Record(void* self, int operation, const char* database, const char* table,
                                sqlite3_int64 row) {
  auto& recorder = *static_cast<ChangedRowRecorder*>(self);
  if (operation == SQLITE_DELETE || std::string_view(database) != "main") return;
  // A statement writes row after row of one table: one comparison a row.
  if (recorder.last_ == nullptr || recorder.last_table_ != table) {
    recorder.last_table_ = table;
    recorder.last_ = &recorder.rows_[recorder.last_table_];
  }
  recorder.last_->push_back(row);
}

RowsByTable ChangedRowRecorder::Take() {
  for (auto& [table, rows] : rows_) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  }
  last_ = nullptr;
  return std::exchange(rows_, {});
}

namespace {

// Cell `column` of the current row as SQLite stores it.
StoredValue StoredCell(const Statement& statement, int column) {
  sqlite3_stmt* stmt = statement.get();
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: return std::int64_t{sqlite3_column_int64(stmt, column)};
    case SQLITE_FLOAT: return sqlite3_column_double(stmt, column);
    case SQLITE_TEXT:
      return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                         static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, column));
      return Blob{std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))};
    }
    default: return std::monostate{};
  }
}

bool SameStored(const StoredValue& a, const StoredValue& b) {
  if (a == b) return true;
  // SQLite's NUMERIC affinity keeps a whole real as an integer: no change.
  const auto* i = std::get_if<std::int64_t>(&a);
  const auto* d = std::get_if<double>(&b);
  return i != nullptr && d != nullptr && static_cast<double>(*i) == *d;
}

// `stored` converted for `column`. An integer beyond 32 bits would reach the
// conversion as a double (platform::Value has no wider integer): integers of
// the 64-bit kinds are judged here, exactly.
StoredValue Converted(const TableInfo& table, const ColumnInfo& column, const StoredValue& stored) {
  const auto* integer = std::get_if<std::int64_t>(&stored);
  if (integer != nullptr && column.type.kind == TypeKind::kCounter) return stored;
  if (integer != nullptr && column.type.kind == TypeKind::kDecimal &&
      *integer > -1'000'000'000'000'000'000 && *integer < 1'000'000'000'000'000'000) {
    return stored;
  }
  if (integer != nullptr && column.type.kind == TypeKind::kDecimal) {
    throw EngineFailure(engine_err::kValueDoesNotFit)
        .AddDetail("table", table.name)
        .AddDetail("column", column.name)
        .AddDetail("declared type", column.declared_type)
        .AddDetail("value", std::to_string(*integer));
  }
  return ConvertToDeclaredType(table.name, column.name, column.declared_type, column.type,
                               ToValue(stored));
}

// The columns of `table` with a declared type of the engine.
std::vector<const ColumnInfo*> TypedColumns(const TableInfo& table) {
  std::vector<const ColumnInfo*> typed;
  for (const ColumnInfo& column : table.columns) {
    if (column.type.kind != TypeKind::kOther) typed.push_back(&column);
  }
  return typed;
}

void HoldTable(DatabaseCore& core, const TableInfo& table, const std::vector<RowId>& rows) {
  const std::vector<const ColumnInfo*> typed = TypedColumns(table);
  if (typed.empty()) return;
  std::string names;
  for (const ColumnInfo* column : typed) names += (names.empty() ? "" : ", ") + column->quoted_name;
  const std::string read = "SELECT " + names + " FROM " + table.quoted_name + " WHERE rowid = ?";
  for (const RowId row : rows) {
    std::vector<std::pair<const ColumnInfo*, StoredValue>> changes;
    {
      StatementUse statement(core.statements.Get(read));
      statement->Bind(1, row);
      if (!statement->Step()) continue;  // deleted later in the statement
      for (std::size_t c = 0; c < typed.size(); ++c) {
        const StoredValue stored = StoredCell(*statement, static_cast<int>(c));
        StoredValue converted = Converted(table, *typed[c], stored);
        if (!SameStored(stored, converted)) changes.emplace_back(typed[c], std::move(converted));
      }
    }
    for (auto& [column, value] : changes) {
      StatementUse write(core.statements.Get("UPDATE " + table.quoted_name + " SET " +
                                             column->quoted_name + " = ? WHERE rowid = ?"));
      write->Bind(1, value);
      write->Bind(2, row);
      write->Step();
    }
  }
}

}  // namespace

void HoldToDeclaredTypes(DatabaseCore& core, const RowsByTable& rows) {
  const TriggersOff off(core.db());
  for (const auto& [table, rowids] : rows) HoldTable(core, core.Table(table), rowids);
}

}  // namespace platform::engine::internal
