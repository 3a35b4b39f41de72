// The change recorder: the net row changes that writes to an open Database
// make, for the tools that preview a run (see snapshot.h, which callers
// include).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/value.h"
#include "platform/engine/database.h"

namespace platform::engine {

// One row's net change between a recorder's start (or last Take) and now.
// Rows are told apart by rowid: a row deleted and another inserted under the
// same rowid in one window (SQLite reuses the highest rowid) is one update.
struct RowChange {
  enum class Kind { kInserted, kUpdated, kDeleted };
  Kind kind;
  std::string table;
  std::int64_t rowid;
  // Every column for an insert or a delete; for an update only the columns
  // whose value changed, in column order.
  std::vector<std::string> columns;
  std::vector<Value> old_values;  // empty for an insert
  std::vector<Value> new_values;  // empty for a delete
};

// Records every row write made on a Database through SQLite's pre-update
// hook, so rows of tables without a primary key are seen too, and whatever
// made the write (the engine's row functions, Execute, Exec, triggers).
// Tables of SQLite's own (sqlite_*) are left out.
// REQUIRES: `db` outlives the recorder; one recorder per Database at a time;
// no table's columns change between a write and the Take that reports it
// (column names are read at Take).
class ChangeRecorder {
 public:
  explicit ChangeRecorder(Database& db);
  ChangeRecorder(const ChangeRecorder&) = delete;
  ChangeRecorder& operator=(const ChangeRecorder&) = delete;
  ~ChangeRecorder();

  // The net changes since construction or the last Take, in the order each
  // row was first touched, and starts afresh. A row inserted then deleted is
  // no change, nor is an update that leaves every value as it was.
  std::vector<RowChange> Take();

  struct Log;

 private:
  Database& db_;
  std::unique_ptr<Log> log_;
};

}  // namespace platform::engine
