// ChangeRecorder: the row changes that a dry run reports, recorded through
// SQLite's pre-update hook on the Database's own connection.
#include "platform/engine/database/change_recorder.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ranges>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/text.h"
#include "platform/engine/connection/statement.h"
#include "platform/engine/connection/stored_value.h"
#include "platform/engine/rows/database_core.h"

namespace platform::engine {

// The net state of each row touched, in first-touch order.
struct ChangeRecorder::Log {
  struct Row {
    std::size_t table = 0;  // in `tables`
    std::int64_t rowid = 0;
    // Values before the first write of the window; none for a row that did
    // not exist then. Values now; none for a row that no longer exists.
    std::optional<std::vector<internal::StoredValue>> before, after;
  };
  // A table written in the window, and its rows touched by rowid once the
  // window has more than kScanned rows (fewer are found by a scan).
  struct Table {
    std::string name;
    std::unordered_map<std::int64_t, std::size_t> rows;  // index in `rows`
  };
  static constexpr std::size_t kScanned = 32;
  std::vector<Row> rows;
  std::vector<Table> tables;
  const internal::DatabaseCore* core = nullptr;  // of the recorded Database
  std::size_t last_table = 0;        // where the search for the next write's table starts
  std::vector<std::size_t> changed;  // TakeEach's, kept for its room
  // Values of rows of earlier windows, kept for their room (a few: a window
  // of many rows gives back only what the next small ones need).
  std::vector<std::vector<internal::StoredValue>> spare;
  static constexpr std::size_t kSpare = 64;

  // Columns by table, kept across Takes while the schema version stays
  // the same, so that a Take after each of many small changes compiles no
  // statement for a table it has seen.
  struct Columns {
    std::vector<std::string> names;
    // The positions of the columns of REAL affinity: SQLite reads a whole
    // number stored there back as a float, but the hook shows an inserted
    // one as the integer it was given.
    std::vector<std::size_t> floats;
  };
  std::map<std::string, Columns, std::less<>> names;
  std::int64_t names_version = -1;
  std::uint64_t names_generation = 0;  // RowChangeView's, of `names`
  std::optional<internal::Statement> schema_version;

  // The table's place in `tables`. Writes come in runs on one table, and a
  // window meets few tables.
  std::size_t TableAt(std::string_view name) {
    if (last_table < tables.size() && tables[last_table].name == name) return last_table;
    for (std::size_t t = 0; t < tables.size(); ++t) {
      if (tables[t].name == name) return last_table = t;
    }
    tables.push_back({std::string(name), {}});
    return last_table = tables.size() - 1;
  }

  // The row's entry; a row not yet touched in this window gets one whose
  // values before `before(row)` sets (read only then: a row written many
  // times keeps its first values). The caller sets its values now.
  template <typename Before>
  Row& Touch(std::string_view table, std::int64_t rowid, const Before& before) {
    const std::size_t t = TableAt(table);
    if (const std::optional<std::size_t> found = Find(t, rowid)) return rows[*found];
    Row& row = rows.emplace_back(Row{t, rowid, std::nullopt, std::nullopt});
    if (rows.size() > kScanned) Index(rows.size() - 1, row);
    before(row);
    return row;
  }

  // `values`, made to hold values, with the room of a spare one if any.
  std::vector<internal::StoredValue>& Fill(
      std::optional<std::vector<internal::StoredValue>>& values) {
    if (values) return *values;
    if (spare.empty()) return values.emplace();
    values.emplace(std::move(spare.back()));
    spare.pop_back();
    return *values;
  }

  // `values` emptied, their room kept as a spare.
  void Recycle(std::optional<std::vector<internal::StoredValue>>& values) {
    if (values && spare.size() < kSpare) spare.push_back(std::move(*values));
    values.reset();
  }

  std::optional<std::size_t> Find(std::size_t table, std::int64_t rowid) const {
    if (rows.size() <= kScanned) {
      for (std::size_t i = rows.size(); i-- > 0;) {
        if (rows[i].table == table && rows[i].rowid == rowid) return i;
      }
      return std::nullopt;
    }
    const auto& touched = tables[table].rows;
    const auto found = touched.find(rowid);
    return found == touched.end() ? std::nullopt : std::optional(found->second);
  }

  // Indexes `row`, to be at `at` in `rows`; the rows scanned so far first.
  void Index(std::size_t at, const Row& row) {
    if (at == kScanned) {
      for (std::size_t i = 0; i < at; ++i) tables[rows[i].table].rows.emplace(rows[i].rowid, i);
    }
    tables[row.table].rows.emplace(row.rowid, at);
  }
};

namespace {

// Sets `stored` to `value`, in place: a text or blob reuses the room it has.
void Read(sqlite3_value* value, internal::StoredValue& stored) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER: stored = sqlite3_value_int64(value); return;
    case SQLITE_FLOAT: stored = sqlite3_value_double(value); return;
    case SQLITE_TEXT: {
      // The text first: sqlite3_value_bytes counts it as sqlite3_value_text made it.
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
      auto* room = std::get_if<std::string>(&stored);
      if (room == nullptr) room = &stored.emplace<std::string>();
      room->assign(text, size);
      return;
    }
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
      const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
      auto* room = std::get_if<internal::Blob>(&stored);
      if (room == nullptr) room = &stored.emplace<internal::Blob>();
      if (bytes == nullptr) {
        room->bytes.clear();
      } else {
        room->bytes.assign(bytes, size);
      }
      return;
    }
    default: stored = std::monostate{};
  }
}

using Values = std::vector<internal::StoredValue>;

// The row's values as the hook sees them, into `values` (one kept from an
// earlier window, whose room they reuse).
template <int (*Getter)(sqlite3*, int, sqlite3_value**)>
void PreupdateValues(sqlite3* db, Values& values) {
  const int count = sqlite3_preupdate_count(db);
  values.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    sqlite3_value* value = nullptr;
    internal::StoredValue& stored = values[static_cast<std::size_t>(i)];
    if (Getter(db, i, &value) == SQLITE_OK && value != nullptr) {
      Read(value, stored);
    } else {
      stored = std::monostate{};
    }
  }
}

// Whether `stored` is `value` exactly (floats bit for bit).
bool Holds(const internal::StoredValue& stored, sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER: {
      const auto* v = std::get_if<std::int64_t>(&stored);
      return v != nullptr && *v == sqlite3_value_int64(value);
    }
    case SQLITE_FLOAT: {
      const auto* v = std::get_if<double>(&stored);
      return v != nullptr && std::bit_cast<std::uint64_t>(*v) ==
                                 std::bit_cast<std::uint64_t>(sqlite3_value_double(value));
    }
    case SQLITE_TEXT: {
      const auto* v = std::get_if<std::string>(&stored);
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      return v != nullptr &&
             *v == std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
    }
    case SQLITE_BLOB: return false;
    default: return std::holds_alternative<std::monostate>(stored);
  }
}

// Column `i` of `values` set to the write's new value, read only when it
// differs.
void RefreshColumn(sqlite3* db, Values& values, int i) {
  sqlite3_value* value = nullptr;
  if (sqlite3_preupdate_new(db, i, &value) != SQLITE_OK || value == nullptr) {
    values[static_cast<std::size_t>(i)] = std::monostate{};
  } else if (!Holds(values[static_cast<std::size_t>(i)], value)) {
    Read(value, values[static_cast<std::size_t>(i)]);
  }
}

using RowUpdate = internal::DatabaseCore::RowUpdate;

// The update that the engine's UpdateRow is making, when it is this write
// of the row itself (not a trigger's), and the table has the columns that
// the hook sees: then only the columns it assigns can change.
const RowUpdate* AssignedBy(const ChangeRecorder::Log& log, sqlite3* db, std::string_view table,
                            std::int64_t rowid) {
  const RowUpdate* update = log.core->updating;
  if (update == nullptr || update->rowid != rowid || update->table.name != table ||
      sqlite3_preupdate_depth(db) != 0 ||
      update->table.columns.size() != static_cast<std::size_t>(sqlite3_preupdate_count(db))) {
    return nullptr;
  }
  return update;
}

// The row's values now: `values` (the row as the last write left it) with
// the new value of each column that the write changed (of those that
// `assigned` assigns, when there is one), read only then: a row that a
// program writes again and again is read whole once.
void Refresh(sqlite3* db, Values& values, const RowUpdate* assigned) {
  const int count = sqlite3_preupdate_count(db);
  if (values.size() != static_cast<std::size_t>(count)) {
    PreupdateValues<sqlite3_preupdate_new>(db, values);
    return;
  }
  if (assigned == nullptr) {
    for (int i = 0; i < count; ++i) RefreshColumn(db, values, i);
    return;
  }
  for (const internal::ColumnInfo* column : assigned->columns) {
    RefreshColumn(db, values, static_cast<int>(column - assigned->table.columns.data()));
  }
}

void OnPreupdate(void* context, sqlite3* db, int op, const char* schema, const char* table,
                 sqlite3_int64 old_rowid, sqlite3_int64 new_rowid) {
  if (std::string_view(schema) != "main" || std::string_view(table).starts_with("sqlite_")) return;
  auto& log = *static_cast<ChangeRecorder::Log*>(context);
  // An update that moves a row to another rowid is the old row's delete and
  // the new row's insert.
  using Row = ChangeRecorder::Log::Row;
  const auto old_values = [&](Row& row) {
    PreupdateValues<sqlite3_preupdate_old>(db, log.Fill(row.before));
  };
  const auto no_values = [](Row&) {};
  if (op == SQLITE_DELETE || (op == SQLITE_UPDATE && old_rowid != new_rowid)) {
    log.Recycle(log.Touch(table, old_rowid, old_values).after);
  }
  if (op == SQLITE_INSERT || (op == SQLITE_UPDATE && old_rowid != new_rowid)) {
    PreupdateValues<sqlite3_preupdate_new>(db,
                                           log.Fill(log.Touch(table, new_rowid, no_values).after));
  } else if (op == SQLITE_UPDATE) {
    Row& row = log.Touch(table, old_rowid, old_values);
    const RowUpdate* assigned = AssignedBy(log, db, table, old_rowid);
    if (row.after) {
      Refresh(db, *row.after, assigned);
    } else if (assigned != nullptr && row.before) {
      // The row as it was, but for the columns assigned.
      log.Fill(row.after) = *row.before;
      Refresh(db, *row.after, assigned);
    } else {
      PreupdateValues<sqlite3_preupdate_new>(db, log.Fill(row.after));
    }
  }
}

// Whether a column of `declared` type has SQLite's REAL affinity (its rules
// in their order: INT, then CHAR, CLOB or TEXT, then BLOB or no type, then
// REAL, FLOA or DOUB).
bool HasRealAffinity(std::string_view type) {
  const std::string declared = UpperCase(type);
  const auto has = [&](std::string_view part) { return declared.find(part) != std::string::npos; };
  if (has("INT") || has("CHAR") || has("CLOB") || has("TEXT") || has("BLOB")) return false;
  return has("REAL") || has("FLOA") || has("DOUB");
}

ChangeRecorder::Log::Columns ColumnsOf(sqlite3* db, const std::string& table) {
  internal::Statement info(db, "SELECT name, type FROM pragma_table_info(?)");
  info.Bind(1, Value(table));
  ChangeRecorder::Log::Columns columns;
  while (info.Step()) {
    if (HasRealAffinity(info.Column(1).ToText())) columns.floats.push_back(columns.names.size());
    columns.names.push_back(info.Column(0).ToText());
  }
  return columns;
}

// `values` as the table reads them back: a whole number in a column of
// REAL affinity as a float.
void AsStored(const std::vector<std::size_t>& floats, std::optional<Values>& values) {
  if (!values) return;
  for (const std::size_t i : floats) {
    if (i >= values->size()) break;
    if (const auto* whole = std::get_if<std::int64_t>(&(*values)[i])) {
      (*values)[i] = static_cast<double>(*whole);
    }
  }
}

// The value of column `i` in `values`: none for a column added since they
// were read (it had no value then).
const internal::StoredValue& ValueAt(const Values& values, std::size_t i) {
  static const internal::StoredValue kNone;
  return i < values.size() ? values[i] : kNone;
}

// Fills `changed` with the columns whose values differ between the row's
// first and last state, all of them for a row that is new or gone. True
// when the row changed.
bool ChangedColumns(const ChangeRecorder::Log::Row& row, std::vector<std::size_t>& changed) {
  changed.clear();
  if (!row.before && !row.after) return false;
  if (!row.before || !row.after) {
    const std::size_t count = (row.before ? *row.before : *row.after).size();
    for (std::size_t i = 0; i < count; ++i) changed.push_back(i);
    return true;
  }
  for (std::size_t i = 0; i < row.after->size(); ++i) {
    if (ValueAt(*row.before, i) != (*row.after)[i]) changed.push_back(i);
  }
  return !changed.empty();
}

// `names` with a name for each of `count` values: a column added since the
// names were read has none of its own.
const std::vector<std::string>& NamesFor(const std::vector<std::string>& names, std::size_t count,
                                         std::vector<std::string>& padded) {
  if (count <= names.size()) return names;
  padded = names;
  for (std::size_t i = names.size(); i < count; ++i) {
    padded.push_back("column " + std::to_string(i + 1));
  }
  return padded;
}

}  // namespace

ChangeRecorder::ChangeRecorder(Database& db) : db_(db), log_(std::make_unique<Log>()) {
  log_->core = &db_.core();
  sqlite3_preupdate_hook(db_.core().db(), OnPreupdate, log_.get());
}

ChangeRecorder::~ChangeRecorder() {
  if (db_.IsOpen()) sqlite3_preupdate_hook(db_.core().db(), nullptr, nullptr);
}

namespace {

// Forgets the column names read under an older schema.
void ForgetOutdatedNames(ChangeRecorder::Log& log, sqlite3* db) {
  if (!log.schema_version) log.schema_version.emplace(db, "PRAGMA schema_version");
  log.schema_version->Step();
  const std::int64_t version = log.schema_version->ColumnInt64(0);
  log.schema_version->Reset();
  if (version != log.names_version) {
    // Every recorder's names in the process are told apart, so that a reader
    // of several recorders cannot take one's names for another's.
    static std::atomic<std::uint64_t> last_generation = 0;
    log.names.clear();
    log.names_generation = ++last_generation;
  }
  log.names_version = version;
}

}  // namespace

const internal::StoredValue& RowChangeView::Before(std::size_t i) const {
  return ValueAt(*before, i);
}

RowChange RowChangeView::ToRowChange() const {
  RowChange change{kind, table, rowid, {}, {}, {}};
  change.columns.reserve(columns.size());
  for (const std::size_t i : columns) {
    change.columns.push_back(Name(i));
    if (before) change.old_values.push_back(internal::ToValue(Before(i)));
    if (after) change.new_values.push_back(internal::ToValue(After(i)));
  }
  return change;
}

std::vector<RowChange> ChangeRecorder::Take() {
  std::vector<RowChange> changes;
  TakeEach([&](const RowChangeView& change) { changes.push_back(change.ToRowChange()); });
  return changes;
}

void ChangeRecorder::TakeEach(const std::function<void(const RowChangeView&)>& visit) {
  // The window's rows leave the log (writes that `visit` makes start the
  // next window); their room comes back to it afterwards, so that a Take
  // after each of many small changes allocates little.
  std::vector<Log::Row> rows = std::exchange(log_->rows, {});
  std::vector<Log::Table> tables = std::exchange(log_->tables, {});
  log_->last_table = 0;
  sqlite3* db = db_.core().db();
  if (!rows.empty()) ForgetOutdatedNames(*log_, db);
  std::vector<const Log::Columns*> columns;  // by table
  for (const Log::Table& table : tables) {
    auto it = log_->names.find(table.name);
    if (it == log_->names.end()) {
      it = log_->names.emplace(table.name, ColumnsOf(db, table.name)).first;
    }
    columns.push_back(&it->second);
  }
  std::vector<std::size_t>& changed = log_->changed;
  std::vector<std::string> padded;
  for (Log::Row& row : rows) {
    const std::vector<std::size_t>& floats = columns[row.table]->floats;
    AsStored(floats, row.before);
    AsStored(floats, row.after);
    if (!ChangedColumns(row, changed)) continue;
    const RowChange::Kind kind = !row.before  ? RowChange::Kind::kInserted
                                 : !row.after ? RowChange::Kind::kDeleted
                                              : RowChange::Kind::kUpdated;
    const std::size_t count =
        std::max(row.before ? row.before->size() : 0, row.after ? row.after->size() : 0);
    const std::vector<std::string>& row_names = NamesFor(columns[row.table]->names, count, padded);
    visit(RowChangeView{kind, tables[row.table].name, row.rowid, changed, &row_names,
                        row.before ? &*row.before : nullptr, row.after ? &*row.after : nullptr,
                        &row_names == &padded ? 0 : log_->names_generation});
  }
  // The last row's first: the next window, which likely writes the same
  // tables in the same order, takes back the room each row had.
  for (Log::Row& row : std::views::reverse(rows)) {
    log_->Recycle(row.after);
    log_->Recycle(row.before);
  }
  rows.clear();
  tables.clear();
  if (log_->rows.empty()) std::swap(rows, log_->rows);
  if (log_->tables.empty()) std::swap(tables, log_->tables);
}

}  // namespace platform::engine
