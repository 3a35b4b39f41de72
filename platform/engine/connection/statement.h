// RAII owner of one prepared statement, with binding of platform values and
// reading of cells back into them.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/value.h"
#include "platform/engine/connection/stored_value.h"

namespace platform::engine::internal {

class Statement {
 public:
  // Prepares the first statement of `sql`; text after it other than spaces
  // and semicolons fails (one statement only).
  Statement(sqlite3* db, std::string_view sql);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  // Binds parameter `index` (1-based). A Value as SQLite stores it without
  // a declared type: booleans as -1/0, Empty as null.
  void Bind(int index, const Value& value);
  void Bind(int index, const StoredValue& value);
  void Bind(int index, std::int64_t value);

  // Steps once: true when a row is ready; throws on failure.
  bool Step();
  // Ready for a new run: resets and clears the bindings.
  void Reset() noexcept;

  int ColumnCount() const;
  std::string ColumnName(int column) const;
  Value Column(int column) const;
  std::int64_t ColumnInt64(int column) const;
  bool ReadOnly() const;

  sqlite3_stmt* get() const noexcept { return stmt_; }
  const std::string& sql() const noexcept { return sql_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  std::string sql_;
};

// A use of a cached statement: resets it when the use ends, so the cache
// may hand it out again.
class StatementUse {
 public:
  explicit StatementUse(Statement& statement) : statement_(statement) {}
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  ~StatementUse() { statement_.Reset(); }
  Statement* operator->() const { return &statement_; }
  Statement& operator*() const { return statement_; }

 private:
  Statement& statement_;
};

}  // namespace platform::engine::internal
