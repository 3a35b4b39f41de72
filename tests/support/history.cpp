// The difference of two database files, and of a run's record, as lines.
#include "tests/support/history.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "platform/engine/database.h"

namespace testing_support {

namespace {

using platform::Value;
using platform::engine::Database;

struct Table {
  std::vector<std::string> columns;
  std::vector<std::string> key;  // the declared primary key's columns, in key order
};

// Every table but SQLite's own, with its columns and primary key.
std::map<std::string, Table> TablesOf(Database& db) {
  std::map<std::string, Table> tables;
  const auto names = db.Query(
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
      "ESCAPE '\\'");
  for (const auto& row : names.rows) {
    Table& table = tables[row[0].ToText()];
    const auto info =
        db.Query("SELECT name, pk FROM pragma_table_info(?) ORDER BY pk, cid", {{row[0]}});
    for (const auto& column : info.rows) {
      table.columns.push_back(column[0].ToText());
      if (column[1].ToLong() > 0) table.key.push_back(column[0].ToText());
    }
  }
  return tables;
}

std::string Quoted(const std::string& name) {
  return platform::engine::QuoteIdentifier(name);
}

// Row key -> column -> value, of the columns `columns`.
using Cells = std::map<std::string, std::map<std::string, Value>>;

Cells CellsOf(Database& db, const std::string& name, const Table& table,
              const std::vector<std::string>& columns) {
  std::string select = "SELECT rowid";
  for (const auto& column : table.key) select += ", " + Quoted(column);
  for (const auto& column : columns) select += ", " + Quoted(column);
  const auto rows = db.Query(select + " FROM " + Quoted(name));
  Cells cells;
  for (const auto& row : rows.rows) {
    std::string key;
    for (std::size_t k = 0; k < table.key.size(); ++k) {
      key += (k ? ", " : "") + table.key[k] + "=" + row[1 + k].ToText();
    }
    if (table.key.empty()) key = "rowid=" + row[0].ToText();
    auto& line = cells[key];
    for (std::size_t c = 0; c < columns.size(); ++c)
      line[columns[c]] = row[1 + table.key.size() + c];
  }
  return cells;
}

std::string Line(const std::string& table, const std::string& key, const std::string& column,
                 const Value& before, const Value& after) {
  const auto text = [](const Value& v) { return v.IsEmpty() ? std::string("-") : v.Describe(); };
  return table + " " + key + " " + column + ": " + text(before) + " -> " + text(after);
}

void AddRowDifferences(const std::string& table, const Cells& before, const Cells& after,
                       Difference& lines) {
  static const std::map<std::string, Value> kNoRow;
  std::set<std::string> keys;
  for (const auto& [key, row] : before) keys.insert(key);
  for (const auto& [key, row] : after) keys.insert(key);
  for (const auto& key : keys) {
    const auto old_row = before.find(key), new_row = after.find(key);
    const auto& old_cells = old_row == before.end() ? kNoRow : old_row->second;
    const auto& new_cells = new_row == after.end() ? kNoRow : new_row->second;
    const auto& columns = old_cells.empty() ? new_cells : old_cells;
    for (const auto& [column, unused] : columns) {
      const auto o = old_cells.find(column), n = new_cells.find(column);
      const Value old_value = o == old_cells.end() ? Value() : o->second;
      const Value new_value = n == new_cells.end() ? Value() : n->second;
      if (!old_value.SameAs(new_value))
        lines.push_back(Line(table, key, column, old_value, new_value));
    }
  }
}

std::vector<std::string> Shared(const Table* a, const Table* b) {
  if (!a || !b) return (a ? a : b)->columns;
  std::vector<std::string> shared;
  for (const auto& column : a->columns) {
    if (std::find(b->columns.begin(), b->columns.end(), column) != b->columns.end()) {
      shared.push_back(column);
    }
  }
  return shared;
}

}  // namespace

Difference DatabaseDifference(const std::string& before, const std::string& after) {
  Database old_db = Database::Open(before), new_db = Database::Open(after);
  const auto old_tables = TablesOf(old_db), new_tables = TablesOf(new_db);
  std::set<std::string> names;
  for (const auto& [name, table] : old_tables) names.insert(name);
  for (const auto& [name, table] : new_tables) names.insert(name);
  Difference lines;
  for (const auto& name : names) {
    const auto o = old_tables.find(name), n = new_tables.find(name);
    const Table* old_table = o == old_tables.end() ? nullptr : &o->second;
    const Table* new_table = n == new_tables.end() ? nullptr : &n->second;
    const std::vector<std::string> columns = Shared(old_table, new_table);
    const Cells old_cells = old_table ? CellsOf(old_db, name, *old_table, columns) : Cells();
    const Cells new_cells = new_table ? CellsOf(new_db, name, *new_table, columns) : Cells();
    AddRowDifferences(name, old_cells, new_cells, lines);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

Difference RecordedDifference(const platform::history::RunRecord& run) {
  using platform::history::ChangeKind;
  std::map<std::tuple<std::string, std::string, std::string>, std::pair<Value, Value>> net;
  for (const auto& change : run.changes) {
    if (change.kind != ChangeKind::kInsert && change.kind != ChangeKind::kUpdate &&
        change.kind != ChangeKind::kDelete) {
      continue;
    }
    for (const auto& column : change.columns) {
      const auto [it, fresh] =
          net.try_emplace({change.object, change.key, column.column}, column.before, column.after);
      if (!fresh) it->second.second = column.after;
    }
  }
  Difference lines;
  for (const auto& [where, values] : net) {
    const auto& [table, key, column] = where;
    if (!values.first.SameAs(values.second)) {
      lines.push_back(Line(table, key, column, values.first, values.second));
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace testing_support
