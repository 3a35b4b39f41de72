// The change recorder: the net row changes that writes to an open Database
// make, for the tools that preview a run (see snapshot.h, which callers
// include).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/core/value.h"
#include "platform/engine/connection/stored_value.h"
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

// A row's net change as the recorder holds it, for a reader that uses it at
// once (ChangeRecorder::TakeEach): what Take makes a RowChange of, with no
// name or value copied. Valid only during the call it is handed to.
struct RowChangeView {
  RowChange::Kind kind;
  const std::string& table;
  std::int64_t rowid;
  // The columns it changes, in column order (every column for an insert or
  // a delete), by their index in the row.
  std::span<const std::size_t> columns;
  // Column i's name ("column <i + 1>" when the table no longer has it), and
  // its values before and after; REQUIRES: before only for an update or a
  // delete, after only for an insert or an update.
  const std::string& Name(std::size_t i) const { return (*names)[i]; }
  const internal::StoredValue& Before(std::size_t i) const;
  const internal::StoredValue& After(std::size_t i) const { return (*after)[i]; }

  const std::vector<std::string>* names;
  const std::vector<internal::StoredValue>* before;  // none for an insert
  const std::vector<internal::StoredValue>* after;   // none for a delete
  // Which names these are: the same number (unique in the process) with the
  // same `names` stands for the same names of the same table, and what a
  // reader learnt of the tables' shapes (a key, say) holds while the number
  // stays the same; 0 for names made for this change alone, which hold only
  // during the call.
  std::uint64_t names_generation;

  RowChange ToRowChange() const;
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
  // As Take, handing each change to `visit` in turn instead. Writes that
  // `visit` makes belong to the next window. REQUIRES: not called from
  // within `visit`.
  void TakeEach(const std::function<void(const RowChangeView&)>& visit);

  struct Log;

 private:
  Database& db_;
  std::unique_ptr<Log> log_;
};

}  // namespace platform::engine
