// The rows that a statement stores, held to their columns' declared types
// after it ran: what Execute stores (default data, other programs' SQL) gets
// the rule of the typed row operations.
#pragma once

#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "platform/engine/connection/row_id.h"

namespace platform::engine::internal {

struct DatabaseCore;  // database_core.h

// Rowids by table name, as SQLite spells the table.
using RowsByTable = std::map<std::string, std::vector<RowId>, std::less<>>;

// Records the rows inserted or updated in the main database's tables while
// it lives (triggers' writes included), through SQLite's update hook: no
// statement of its own, nothing stored. SQLite does not report rows of
// WITHOUT ROWID tables; those keep SQLite's affinity.
// REQUIRES: no other update hook on the connection (the engine sets none).
class ChangedRowRecorder {
 public:
  explicit ChangedRowRecorder(sqlite3* db);
  ChangedRowRecorder(const ChangedRowRecorder&) = delete;
  ChangedRowRecorder& operator=(const ChangedRowRecorder&) = delete;
  ~ChangedRowRecorder();
  // The rows recorded so far, each table's rowids sorted and unique.
  RowsByTable Take();

 private:
  static void Record(void* self, int operation, const char* database, const char* table,
                     sqlite3_int64 row);
  sqlite3* db_;
  RowsByTable rows_;
  std::vector<RowId>* last_ = nullptr;  // the rowids of the table last recorded
  std::string last_table_;
};

// Converts every value of `rows` in a column of a declared type of the
// engine to that type and writes back each that the conversion changes
// (trigger firing off, so no trigger fires a second time); other declared
// types keep SQLite's affinity. Throws kValueDoesNotFit naming table,
// column and value for the first value that does not fit, having possibly
// written back others.
// REQUIRES: a savepoint around the statement and this call, rolled back on
// a throw, so that the statement changes nothing then.
void HoldToDeclaredTypes(DatabaseCore& core, const RowsByTable& rows);

}  // namespace platform::engine::internal
