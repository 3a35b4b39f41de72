// ChangeRecorder: the row changes that a dry run reports, recorded through
// SQLite's pre-update hook on the Database's own connection.
#include "platform/engine/database/change_recorder.h"

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/engine/connection/statement.h"
#include "platform/engine/connection/stored_value.h"
#include "platform/engine/rows/database_core.h"

namespace platform::engine {

// The net state of each row touched, in first-touch order.
struct ChangeRecorder::Log {
  struct Row {
    std::string table;
    std::int64_t rowid = 0;
    // Values before the first write of the window; none for a row that did
    // not exist then. Values now; none for a row that no longer exists.
    std::optional<std::vector<internal::StoredValue>> before, after;
  };
  std::vector<Row> rows;
  std::map<std::pair<std::string, std::int64_t>, std::size_t, std::less<>> index;

  // Column names by table, kept across Takes while the schema version stays
  // the same, so that a Take after each of many small changes compiles no
  // statement for a table it has seen.
  std::map<std::string, std::vector<std::string>, std::less<>> names;
  std::int64_t names_version = -1;
  std::optional<internal::Statement> schema_version;

  // The row's entry; a row not yet touched in this window gets one whose
  // values before are `before()` (read only then: a row written many times
  // keeps its first values).
  template <typename Before>
  Row& Touch(std::string_view table, std::int64_t rowid, const Before& before) {
    auto key = std::make_pair(std::string(table), rowid);
    auto it = index.find(key);
    if (it != index.end()) return rows[it->second];
    index.emplace(key, rows.size());
    Row& row = rows.emplace_back();
    row.table = std::move(key.first);
    row.rowid = rowid;
    row.before = before();
    row.after = row.before;
    return row;
  }
};

namespace {

internal::StoredValue Read(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER: return sqlite3_value_int64(value);
    case SQLITE_FLOAT: return sqlite3_value_double(value);
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      return std::string(text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
    }
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
      const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
      return internal::Blob{bytes == nullptr ? std::string() : std::string(bytes, size)};
    }
    default: return std::monostate{};
  }
}

using Values = std::vector<internal::StoredValue>;

template <int (*Getter)(sqlite3*, int, sqlite3_value**)>
Values PreupdateValues(sqlite3* db) {
  Values values;
  const int count = sqlite3_preupdate_count(db);
  values.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    sqlite3_value* value = nullptr;
    values.push_back(Getter(db, i, &value) == SQLITE_OK && value != nullptr
                         ? Read(value)
                         : internal::StoredValue{std::monostate{}});
  }
  return values;
}

void OnPreupdate(void* context, sqlite3* db, int op, const char* schema, const char* table,
                 sqlite3_int64 old_rowid, sqlite3_int64 new_rowid) {
  if (std::string_view(schema) != "main" || std::string_view(table).starts_with("sqlite_")) return;
  auto& log = *static_cast<ChangeRecorder::Log*>(context);
  // An update that moves a row to another rowid is the old row's delete and
  // the new row's insert.
  using Before = std::optional<Values>;
  const auto old_values = [db] { return Before(PreupdateValues<sqlite3_preupdate_old>(db)); };
  const auto no_values = [] { return Before(); };
  if (op == SQLITE_DELETE || (op == SQLITE_UPDATE && old_rowid != new_rowid)) {
    log.Touch(table, old_rowid, old_values).after.reset();
  }
  if (op == SQLITE_INSERT || (op == SQLITE_UPDATE && old_rowid != new_rowid)) {
    log.Touch(table, new_rowid, no_values).after = PreupdateValues<sqlite3_preupdate_new>(db);
  } else if (op == SQLITE_UPDATE) {
    log.Touch(table, old_rowid, old_values).after = PreupdateValues<sqlite3_preupdate_new>(db);
  }
}

std::vector<std::string> ColumnNames(sqlite3* db, const std::string& table) {
  internal::Statement info(db, "SELECT name FROM pragma_table_info(?)");
  info.Bind(1, Value(table));
  std::vector<std::string> names;
  while (info.Step()) names.push_back(info.Column(0).ToText());
  return names;
}

std::vector<Value> ToValues(const Values& values) {
  std::vector<Value> out;
  out.reserve(values.size());
  for (const internal::StoredValue& v : values) out.push_back(internal::ToValue(v));
  return out;
}

// The row's net change, or none.
std::optional<RowChange> NetChange(const ChangeRecorder::Log::Row& row,
                                   const std::vector<std::string>& names) {
  const auto name = [&](std::size_t i) {
    return i < names.size() ? names[i] : "column " + std::to_string(i + 1);
  };
  RowChange change{RowChange::Kind::kUpdated, row.table, row.rowid, {}, {}, {}};
  if (!row.before && !row.after) return std::nullopt;
  if (!row.before || !row.after) {
    const Values& values = row.before ? *row.before : *row.after;
    change.kind = row.before ? RowChange::Kind::kDeleted : RowChange::Kind::kInserted;
    for (std::size_t i = 0; i < values.size(); ++i) change.columns.push_back(name(i));
    (row.before ? change.old_values : change.new_values) = ToValues(values);
    return change;
  }
  for (std::size_t i = 0; i < row.after->size(); ++i) {
    const internal::StoredValue none;
    const internal::StoredValue& old_value = i < row.before->size() ? (*row.before)[i] : none;
    if (old_value == (*row.after)[i]) continue;
    change.columns.push_back(name(i));
    change.old_values.push_back(internal::ToValue(old_value));
    change.new_values.push_back(internal::ToValue((*row.after)[i]));
  }
  if (change.columns.empty()) return std::nullopt;
  return change;
}

}  // namespace

ChangeRecorder::ChangeRecorder(Database& db) : db_(db), log_(std::make_unique<Log>()) {
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
  if (version != log.names_version) log.names.clear();
  log.names_version = version;
}

}  // namespace

std::vector<RowChange> ChangeRecorder::Take() {
  std::vector<Log::Row> rows;
  std::swap(rows, log_->rows);
  log_->index.clear();
  sqlite3* db = db_.core().db();
  if (!rows.empty()) ForgetOutdatedNames(*log_, db);
  std::vector<RowChange> changes;
  for (const Log::Row& row : rows) {
    auto it = log_->names.find(row.table);
    if (it == log_->names.end()) {
      it = log_->names.emplace(row.table, ColumnNames(db, row.table)).first;
    }
    if (std::optional<RowChange> change = NetChange(row, it->second)) {
      changes.push_back(*std::move(change));
    }
  }
  return changes;
}

}  // namespace platform::engine
