#include "platform/engine/connection/statement.h"

#include <utility>

#include "platform/engine/connection/engine_failure.h"

namespace platform::engine::internal {

namespace {

// True when the text after the first statement holds another one. Blanks,
// semicolons and comments are not statements: SQLite prepares them to no
// statement at all, and a text that ends in a comment is still one statement.
bool HoldsAnotherStatement(sqlite3* db, const char* tail) {
  while (*tail != '\0') {
    sqlite3_stmt* next = nullptr;
    const char* rest = nullptr;
    const int rc = sqlite3_prepare_v2(db, tail, -1, &next, &rest);
    sqlite3_finalize(next);
    if (rc != SQLITE_OK || next != nullptr) return true;
    if (rest == tail) return false;
    tail = rest;
  }
  return false;
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db), sql_(sql) {
  RefuseNulCharacter(sql_);
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db_, sql_.c_str(), static_cast<int>(sql_.size()) + 1, &stmt_, &tail) !=
      SQLITE_OK) {
    throw SqliteFailure(db_, sql_);
  }
  if (stmt_ == nullptr || HoldsAnotherStatement(db_, tail)) {
    const char* what = stmt_ == nullptr ? "The SQL text holds no statement"
                                        : "The SQL text holds more than one statement";
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    throw Error(SQLITE_MISUSE, what).AddDetail("SQL", sql_);
  }
}

Statement::~Statement() {
  sqlite3_finalize(stmt_);
}

void Statement::Bind(int index, const Value& value) {
  Bind(index, StoreUntyped(value));
}

void Statement::Bind(int index, const StoredValue& value) {
  struct Binder {
    sqlite3_stmt* s;
    int i;
    int operator()(std::monostate) const { return sqlite3_bind_null(s, i); }
    int operator()(std::int64_t v) const { return sqlite3_bind_int64(s, i, v); }
    int operator()(double v) const { return sqlite3_bind_double(s, i, v); }
    int operator()(const std::string& v) const {
      return sqlite3_bind_text64(s, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    int operator()(const Blob& v) const {
      return sqlite3_bind_blob64(s, i, v.bytes.data(), v.bytes.size(), SQLITE_TRANSIENT);
    }
  };
  if (std::visit(Binder{stmt_, index}, value) != SQLITE_OK) throw SqliteFailure(db_, sql_);
}

void Statement::Bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) throw SqliteFailure(db_, sql_);
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Error failure = SqliteFailure(db_, sql_);
  sqlite3_reset(stmt_);
  throw failure;
}

void Statement::Reset() noexcept {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int Statement::ColumnCount() const {
  return sqlite3_column_count(stmt_);
}

std::string Statement::ColumnName(int column) const {
  const char* name = sqlite3_column_name(stmt_, column);
  return name == nullptr ? std::string() : std::string(name);
}

Value Statement::Column(int column) const {
  switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_INTEGER: return ToValue(StoredValue{sqlite3_column_int64(stmt_, column)});
    case SQLITE_FLOAT: return Value(sqlite3_column_double(stmt_, column));
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* bytes = sqlite3_column_blob(stmt_, column);
      const int size = sqlite3_column_bytes(stmt_, column);
      return Value(bytes == nullptr ? std::string()
                                    : std::string(static_cast<const char*>(bytes), size));
    }
    default: return Value::Null();
  }
}

std::int64_t Statement::ColumnInt64(int column) const {
  return sqlite3_column_int64(stmt_, column);
}

bool Statement::ReadOnly() const {
  return sqlite3_stmt_readonly(stmt_) != 0;
}

}  // namespace platform::engine::internal
