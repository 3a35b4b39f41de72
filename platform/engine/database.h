// A connection to one database file of the system: the stand-in for the
// original file-database engine, on SQLite. sqlite3.h stays out of this
// header.
//
// Contracts every connection keeps (other programs rely on them):
//  - rollback journal (journal_mode=DELETE), never WAL; a busy timeout of 5 s;
//  - the lock file "<base name>.ldb" beside the database exists while any
//    connection of the engine has the file open: each connection holds a
//    shared fcntl lock on its byte 0; the last to close (it can take the
//    exclusive lock) removes it; a stale one is taken over;
//  - UCASE(text) is an SQL function on every connection (platform::UpperCase);
//  - every value written through the typed row operations below is converted
//    to the column's declared type first (YESNO, BYTE, SHORT, LONG, CURRENCY,
//    SINGLE, DOUBLE, DATETIME, BINARY(n), TEXT(n), CHAR(n), DECIMAL(18,0),
//    FLOAT, TIME, MEMO, COUNTER); a value that does not fit is refused with
//    engine_err::kValueDoesNotFit naming table, column and value, and nothing
//    of that row is stored; what an Execute statement stores is held to the
//    same rule after it ran (a refused value: nothing of the statement).
//
// A Database is not thread-safe. Every failure throws platform::Error.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/value.h"
#include "platform/engine/connection/lock_state.h"
#include "platform/engine/connection/row_id.h"
#include "platform/engine/connection/sql_quoting.h"

namespace platform::engine {

// Column name and value pairs, in the order they are to be set.
using FieldValues = std::vector<std::pair<std::string, Value>>;

// The rows of a SELECT, fully read: column names and one Value per cell
// (SQLite's integers as Long when they fit 32 bits, else Double; reals as
// Double; texts as Text; blobs as Text of their bytes; NULL as Null).
struct Rows {
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;
  bool empty() const { return rows.empty(); }
  // The cell of `row` in the column named `name` (exact, then case-insensitive);
  // throws kUnknownField.
  const Value& Field(std::size_t row, std::string_view name) const;
};

// What an action statement did.
struct ExecuteResult {
  // Rows inserted, updated or deleted. Rows skipped for a key or constraint
  // are not counted anywhere: SQLite does not report ignored rows.
  std::int64_t rows_changed = 0;
};

class Transaction;
namespace internal {
struct DatabaseCore;  // rows/database_core.h
}

class Database {
 public:
  // Opens `path` shared and read-write. A missing file is an error (the
  // engine never creates a database here; use Create for that).
  static Database Open(const std::string& path);
  // Creates a new, empty database file (fails when it exists).
  static Database Create(const std::string& path);
  // An empty database in memory (no file, no lock file), for a connection
  // that works on the files it attaches; `label` is its path(), for messages.
  static Database CreateInMemory(const std::string& label);

  Database(Database&&) noexcept;
  Database& operator=(Database&&) noexcept;
  ~Database();  // Close(), errors ignored

  // Closes the connection; the last connection of the engine to the file
  // removes the lock file. Idempotent.
  void Close();
  bool IsOpen() const;
  const std::string& path() const;

  // --- SQL ------------------------------------------------------------
  // Runs SQL text of one or more statements; any error fails.
  void Exec(std::string_view sql);
  // The rows of one SELECT with `params` bound to its '?' in order.
  Rows Query(std::string_view sql, std::span<const Value> params = {});
  // Runs one action statement (INSERT, UPDATE, DELETE). Rows that it cannot
  // change because of a duplicate key or a broken constraint are skipped
  // silently and the others are changed; a statement that cannot run
  // (syntax, missing table or field) fails; a statement that changes no
  // data (a SELECT) fails with kNotAnAction before it runs. The values it
  // inserted or updated are then converted to their columns' declared types
  // (written back with triggers off); one that does not fit fails with
  // kValueDoesNotFit and the statement changes nothing.
  ExecuteResult Execute(std::string_view sql);
  // Prepares one statement against the database as it stands, without
  // running it: throws what running it would for its syntax, tables and
  // fields.
  void Prepare(std::string_view sql);

  // A transaction guard: rolls back on destruction unless committed.
  Transaction Begin();

  // --- Attached files ---------------------------------------------------
  // Attaches the database file at `path` as schema `schema`, so that one
  // transaction commits it with this database (rollback journal: SQLite's
  // atomic commit of several files). Under the rules of any file the engine
  // opens: its lock file held while attached; read-only by its mode bits
  // means attached read-only, also for root; a missing file is created, a
  // symbolic link at its name refused (57, `link to`), one at its journal's
  // name removed; journal_mode=DELETE. From then on the statements of this
  // class (and the engine's layers above it) cannot reach the schema, nor
  // attach or detach: SQLite's authorizer refuses them with 23 "not
  // authorized". Only the code that attached it reaches it, through the
  // core's AttachedFiles::Permit. Failures carry a `database` detail.
  // REQUIRES: no transaction open.
  void Attach(const std::string& path, const std::string& schema);
  // REQUIRES: no transaction open; `schema` attached.
  void Detach(const std::string& schema);

  // --- Typed rows (the recordset operations of the catalogue writer) -----
  // The rowid of the first row of `table` meeting `where` (SQL with '?'
  // bound to `params`, may be empty for every row), in rowid order; an
  // indexed condition uses its index. Table and column names in `where`
  // are the caller's own SQL, never data.
  std::optional<RowId> FirstRow(std::string_view table, std::string_view where,
                                std::span<const Value> params = {});
  // The rowids of `table`'s rows that a SELECT of the form
  // "SELECT <table>.* FROM ... WHERE ..." returns (the rows of a join source
  // whose select list is one table's columns), in the order returned.
  std::vector<RowId> RowsOfSource(std::string_view table, std::string_view select_sql,
                                  std::span<const Value> params = {});
  // Adds a row with `values` converted to the columns' declared types.
  RowId InsertRow(std::string_view table, const FieldValues& values);
  // Overwrites the named columns of one row; the others keep their values.
  void UpdateRow(std::string_view table, RowId row, const FieldValues& values);
  void DeleteRow(std::string_view table, RowId row);
  // One field of one row.
  Value ReadField(std::string_view table, RowId row, std::string_view column);

  // --- Core: the open connection, for the engine's own layers ----------
  internal::DatabaseCore& core() const { return *core_; }

 private:
  friend Database OpenInMemoryCopy(const std::string& path);  // snapshot.h
  explicit Database(std::unique_ptr<internal::DatabaseCore> core);
  std::unique_ptr<internal::DatabaseCore> core_;
};

class Transaction {
 public:
  Transaction(Transaction&&) noexcept;
  Transaction& operator=(Transaction&&) = delete;
  ~Transaction();  // rolls back unless committed
  void Commit();

 private:
  friend class Database;
  explicit Transaction(Database* db);
  Database* db_;
};

// The lock file of a database as other programs see it (LockState).
LockState ProbeLockFile(const std::string& database_path);
// The path of that lock file: "<folder>/<base name>.ldb".
std::string LockFileOf(const std::string& database_path);
// Removes the lock file when it is stale; leaves a held one alone.
void RemoveStaleLockFile(const std::string& database_path);

}  // namespace platform::engine
