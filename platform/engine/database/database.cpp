#include "platform/engine/database.h"

#include <algorithm>
#include <map>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/text.h"
#include "platform/engine/connection/engine_error.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/savepoint.h"
#include "platform/engine/database/execute_rewrite.h"
#include "platform/engine/database/source_rewrite.h"
#include "platform/engine/rows/column_type.h"
#include "platform/engine/rows/database_core.h"
#include "platform/engine/rows/declared_type_check.h"

namespace platform::engine {

using internal::StatementUse;

namespace {

void BindAll(internal::Statement& statement, std::span<const Value> params) {
  for (std::size_t i = 0; i < params.size(); ++i) {
    statement.Bind(static_cast<int>(i) + 1, params[i]);
  }
}

// The values of `values` converted for their columns, last assignment of a
// column winning, in first-assignment order. Converts everything before
// anything is written.
struct ConvertedRow {
  std::vector<const internal::ColumnInfo*> columns;
  std::vector<internal::StoredValue> values;
  // The columns' positions in the table, in assignment order: the key of
  // the row's statement shape.
  std::string shape;
};

ConvertedRow ConvertRow(const internal::TableInfo& table, const FieldValues& values) {
  ConvertedRow row;
  row.columns.reserve(values.size());
  row.values.reserve(values.size());
  row.shape.reserve(2 * values.size());
  std::size_t next = 0;  // after the column set last
  for (const auto& [name, value] : values) {
    const internal::ColumnInfo& column = table.Column(name, next);
    next = static_cast<std::size_t>(&column - table.columns.data()) + 1;
    internal::StoredValue stored = internal::ConvertToDeclaredType(
        table.name, column.name, column.declared_type, column.type, value);
    // Rows assign a few dozen columns at most: a linear search beats a map.
    const auto seen = std::find(row.columns.begin(), row.columns.end(), &column);
    if (seen == row.columns.end()) {
      row.columns.push_back(&column);
      row.values.push_back(std::move(stored));
      // Two bytes a position: SQLite allows at most 32,767 columns.
      const auto position = static_cast<std::uint16_t>(&column - table.columns.data());
      row.shape += static_cast<char>(position >> 8);
      row.shape += static_cast<char>(position & 0xFF);
    } else {
      row.values[static_cast<std::size_t>(seen - row.columns.begin())] = std::move(stored);
    }
  }
  return row;
}

// The statement text cached in `cache` under `key`, built by `build` the
// first time.
template <typename Build>
const std::string& CachedSql(std::map<std::string, std::string, std::less<>>& cache,
                             std::string_view key, Build build) {
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, build()).first;
  return it->second;
}

const std::string& InsertSql(const internal::TableInfo& table, const ConvertedRow& row) {
  return CachedSql(table.insert_sql, row.shape, [&] {
    if (row.columns.empty()) return "INSERT INTO " + table.quoted_name + " DEFAULT VALUES";
    std::string names, marks;
    for (const internal::ColumnInfo* column : row.columns) {
      names += (names.empty() ? "" : ", ") + column->quoted_name;
      marks += marks.empty() ? "?" : ", ?";
    }
    return "INSERT INTO " + table.quoted_name + " (" + names + ") VALUES (" + marks + ")";
  });
}

const std::string& UpdateSql(const internal::TableInfo& table, const ConvertedRow& row) {
  return CachedSql(table.update_sql, row.shape, [&] {
    std::string sets;
    for (const internal::ColumnInfo* column : row.columns) {
      sets += (sets.empty() ? "" : ", ") + column->quoted_name + " = ?";
    }
    return "UPDATE " + table.quoted_name + " SET " + sets + " WHERE rowid = ?";
  });
}

void BindRow(internal::Statement& statement, const ConvertedRow& row) {
  for (std::size_t i = 0; i < row.values.size(); ++i) {
    statement.Bind(static_cast<int>(i) + 1, row.values[i]);
  }
}

// Adds the table and SQL to a failure of a row write.
[[noreturn]] void RethrowForTable(Error& failure, const std::string& table) {
  failure.AddDetail("table", table);
  throw;
}

}  // namespace

const Value& Rows::Field(std::size_t row, std::string_view name) const {
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (columns[c] == name) return rows.at(row).at(c);
  }
  const std::string upper = UpperCase(name);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (UpperCase(columns[c]) == upper) return rows.at(row).at(c);
  }
  throw internal::EngineFailure(engine_err::kUnknownField).AddDetail("column", std::string(name));
}

Database Database::Open(const std::string& path) {
  if (!FileExists(path)) throw Error(err::kFileNotFound).AddDetail("database", path);
  return Database(std::make_unique<internal::DatabaseCore>(path, false));
}

Database Database::Create(const std::string& path) {
  if (FileExists(path)) {
    throw internal::EngineFailure(engine_err::kDestinationExists).AddDetail("database", path);
  }
  return Database(std::make_unique<internal::DatabaseCore>(path, true));
}

Database Database::CreateInMemory(const std::string& label) {
  return Database(
      std::make_unique<internal::DatabaseCore>(label, internal::DatabaseCore::InMemory{}));
}

Database::Database(std::unique_ptr<internal::DatabaseCore> core) : core_(std::move(core)) {}
Database::Database(Database&&) noexcept = default;
Database& Database::operator=(Database&&) noexcept = default;
Database::~Database() = default;

void Database::Close() {
  core_.reset();
}
bool Database::IsOpen() const {
  return core_ != nullptr;
}

const std::string& Database::path() const {
  static const std::string kClosed;
  return core_ ? core_->path : kClosed;
}

void Database::Exec(std::string_view sql) {
  core_->SchemaChanged();
  core_->connection.Exec(sql);
  core_->SchemaChanged();
}

Rows Database::Query(std::string_view sql, std::span<const Value> params) {
  StatementUse statement(core_->statements.Get(sql));
  if (statement->ColumnCount() == 0) {
    throw internal::EngineFailure(engine_err::kNotASelect).AddDetail("SQL", std::string(sql));
  }
  BindAll(*statement, params);
  Rows rows;
  for (int c = 0; c < statement->ColumnCount(); ++c) {
    rows.columns.push_back(statement->ColumnName(c));
  }
  while (statement->Step()) {
    std::vector<Value>& row = rows.rows.emplace_back();
    for (int c = 0; c < statement->ColumnCount(); ++c) row.push_back(statement->Column(c));
  }
  return rows;
}

ExecuteResult Database::Execute(std::string_view sql) {
  const std::string skipping = internal::SkippingViolations(sql);
  // Prepared apart from the cache: an action statement from a shell database
  // runs once.
  internal::Statement statement(core_->db(), skipping);
  // An action statement only: a SELECT (or any statement that cannot write)
  // would otherwise pass as done.
  if (statement.ReadOnly()) {
    throw internal::EngineFailure(engine_err::kNotAnAction).AddDetail("SQL", std::string(sql));
  }
  // The statement and the conversion of what it stored are one change: a
  // value that does not fit undoes the whole statement.
  internal::Savepoint change = core_->Change();
  ExecuteResult result;
  internal::RowsByTable changed;
  {
    internal::ChangedRowRecorder recorder(core_->db());
    while (statement.Step()) {
    }
    result.rows_changed = sqlite3_changes64(core_->db());
    changed = recorder.Take();
  }
  core_->SchemaChanged();
  internal::HoldToDeclaredTypes(*core_, changed);
  change.Release();
  return result;
}

void Database::Prepare(std::string_view sql) {
  internal::Statement statement(core_->db(), sql);
}

Transaction Database::Begin() {
  core_->connection.Begin();
  Transaction transaction(this);
  if (!core_->attached.empty()) internal::AttachedFiles::RemoveOrphanSuperJournals(core_->path);
  return transaction;
}

void Database::Attach(const std::string& path, const std::string& schema) {
  core_->attached.Attach(core_->db(), path, schema);
}

void Database::Detach(const std::string& schema) {
  core_->attached.Detach(core_->db(), schema);
}

std::optional<RowId> Database::FirstRow(std::string_view table, std::string_view where,
                                        std::span<const Value> params) {
  const internal::TableInfo& info = core_->Table(table);
  const std::string& sql = CachedSql(info.first_row_sql, where, [&] {
    std::string text = "SELECT rowid FROM " + info.quoted_name;
    if (!TrimSpaces(where).empty()) text += " WHERE " + std::string(where);
    return text + " ORDER BY rowid LIMIT 1";
  });
  StatementUse statement(core_->statements.Get(sql));
  BindAll(*statement, params);
  if (!statement->Step()) return std::nullopt;
  return statement->ColumnInt64(0);
}

std::vector<RowId> Database::RowsOfSource(std::string_view table, std::string_view select_sql,
                                          std::span<const Value> params) {
  const internal::TableInfo& info = core_->Table(table);
  const std::string sql = internal::RowidSelect(info.name, select_sql);
  StatementUse statement(core_->statements.Get(sql));
  BindAll(*statement, params);
  std::vector<RowId> rows;
  while (statement->Step()) rows.push_back(statement->ColumnInt64(0));
  return rows;
}

RowId Database::InsertRow(std::string_view table, const FieldValues& values) {
  const internal::TableInfo& info = core_->Table(table);
  const ConvertedRow row = ConvertRow(info, values);
  try {
    StatementUse statement(core_->statements.Get(InsertSql(info, row)));
    BindRow(*statement, row);
    statement->Step();
  } catch (Error& failure) {
    RethrowForTable(failure, info.name);
  }
  return sqlite3_last_insert_rowid(core_->db());
}

void Database::UpdateRow(std::string_view table, RowId row_id, const FieldValues& values) {
  const internal::TableInfo& info = core_->Table(table);
  const ConvertedRow row = ConvertRow(info, values);
  if (row.columns.empty()) return;
  try {
    StatementUse statement(core_->statements.Get(UpdateSql(info, row)));
    BindRow(*statement, row);
    statement->Bind(static_cast<int>(row.values.size()) + 1, row_id);
    const internal::DatabaseCore::RowUpdate update{info, row.columns, row_id};
    const internal::UpdatingRow updating(*core_, update);
    statement->Step();
  } catch (Error& failure) {
    RethrowForTable(failure, info.name);
  }
}

void Database::DeleteRow(std::string_view table, RowId row) {
  const internal::TableInfo& info = core_->Table(table);
  StatementUse statement(
      core_->statements.Get("DELETE FROM " + QuoteIdentifier(info.name) + " WHERE rowid = ?"));
  statement->Bind(1, row);
  statement->Step();
}

Value Database::ReadField(std::string_view table, RowId row, std::string_view column) {
  const internal::TableInfo& info = core_->Table(table);
  const internal::ColumnInfo& field = info.Column(column);
  const std::string& sql = CachedSql(info.read_sql, field.name, [&] {
    return "SELECT " + field.quoted_name + " FROM " + info.quoted_name + " WHERE rowid = ?";
  });
  StatementUse statement(core_->statements.Get(sql));
  statement->Bind(1, row);
  if (!statement->Step()) {
    throw internal::EngineFailure(engine_err::kNoSuchRow)
        .AddDetail("table", info.name)
        .AddDetail("row", std::to_string(row));
  }
  return statement->Column(0);
}

Transaction::Transaction(Database* db) : db_(db) {}
Transaction::Transaction(Transaction&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

Transaction::~Transaction() {
  if (db_ == nullptr || !db_->IsOpen()) return;
  try {
    db_->core().connection.Exec("ROLLBACK");
  } catch (const Error&) {
    // Nothing to roll back any more (SQLite ended it after a failure).
  }
}

void Transaction::Commit() {
  db_->core().connection.Exec("COMMIT");
  db_ = nullptr;
}

LockState ProbeLockFile(const std::string& database_path) {
  return internal::ProbeLock(database_path);
}

std::string LockFileOf(const std::string& database_path) {
  return internal::LockFilePath(database_path);
}

void RemoveStaleLockFile(const std::string& database_path) {
  internal::RemoveStaleLock(database_path);
}

}  // namespace platform::engine
