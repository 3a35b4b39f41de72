// The difference of two database files, and of the records of the runs
// between them, as lines.
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
using platform::history::ChangeKind;
using platform::history::RunRecord;

struct Table {
  std::vector<std::string> columns;
  std::vector<std::string> key;  // the declared primary key's columns, in key order
};
using Tables = std::map<std::string, Table>;

// Every table but SQLite's own, with its columns and primary key.
Tables TablesOf(Database& db) {
  Tables tables;
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

// Row key as the history writes it ("Col=1, Name=\"x\"" or "rowid=N") -> column -> value.
using Row = std::map<std::string, Value>;
using Rows = std::map<std::string, Row>;

Rows RowsOf(Database& db, const std::string& name, const Table& table,
            const std::set<std::string>& columns) {
  using platform::engine::QuoteIdentifier;
  std::string select = "SELECT rowid";
  for (const auto& column : table.key) select += ", " + QuoteIdentifier(column);
  for (const auto& column : columns) select += ", " + QuoteIdentifier(column);
  Rows rows;
  for (const auto& cells : db.Query(select + " FROM " + QuoteIdentifier(name)).rows) {
    std::string key;
    for (std::size_t k = 0; k < table.key.size(); ++k) {
      key += (k ? ", " : "") + table.key[k] + "=" + cells[1 + k].Describe();
    }
    if (table.key.empty()) key = "rowid=" + cells[0].ToText();
    Row& row = rows[key];
    std::size_t at = 1 + table.key.size();
    for (const auto& column : columns) row[column] = cells[at++];
  }
  return rows;
}

std::string Text(const Value& v) {
  return v.IsEmpty() ? std::string("-") : v.Describe();
}

// Cell by cell, for rows that keep their keys.
void AddCellLines(const std::string& table, const Rows& before, const Rows& after,
                  Difference& lines) {
  static const Row kNoRow;
  std::set<std::string> keys;
  for (const auto& [key, row] : before) keys.insert(key);
  for (const auto& [key, row] : after) keys.insert(key);
  for (const auto& key : keys) {
    const auto o = before.find(key), n = after.find(key);
    const Row& old_row = o == before.end() ? kNoRow : o->second;
    const Row& new_row = n == after.end() ? kNoRow : n->second;
    for (const auto& [column, unused] : old_row.empty() ? new_row : old_row) {
      const auto old_cell = old_row.find(column), new_cell = new_row.find(column);
      const Value old_value = old_cell == old_row.end() ? Value() : old_cell->second;
      const Value new_value = new_cell == new_row.end() ? Value() : new_cell->second;
      if (!old_value.SameAs(new_value)) {
        lines.push_back(table + " " + key + " " + column + ": " + Text(old_value) + " -> " +
                        Text(new_value));
      }
    }
  }
}

// The rows by content alone, when they are not the rows of `before`.
void AddTableLine(const std::string& table, const Rows& before, const Rows& after,
                  Difference& lines) {
  const auto contents = [](const Rows& rows) {
    std::vector<std::string> all;
    for (const auto& [key, row] : rows) {
      std::string content;
      for (const auto& [column, value] : row) content += column + "=" + Text(value) + " ";
      all.push_back(content);
    }
    std::sort(all.begin(), all.end());
    return all;
  };
  const auto now = contents(after);
  if (now == contents(before)) return;
  std::string line = table + " rows:";
  for (const auto& content : now) line += " " + content + ";";
  lines.push_back(line);
}

// `rows` as the records' changes of `table` leave them, over `columns`. A
// change whose before is not what the row held then is a line of `wrong`.
Rows Replayed(Rows rows, const std::string& table, const std::set<std::string>& columns,
              const std::vector<RunRecord>& runs, Difference& wrong) {
  static const Row kNoRow;
  for (const auto& run : runs) {
    for (const auto& change : run.changes) {
      if (change.object != table || change.key.empty()) continue;
      const auto it = rows.find(change.key);
      const Row& was = it == rows.end() ? kNoRow : it->second;
      for (const auto& column : change.columns) {
        const auto cell = was.find(column.column);
        const Value held = cell == was.end() ? Value() : cell->second;
        if (columns.contains(column.column) && !held.SameAs(column.before)) {
          wrong.push_back("record of " + table + " " + change.key + " " + column.column +
                          ": before " + Text(column.before) + ", the row held " + Text(held));
        }
      }
      if (change.kind == ChangeKind::kDelete) rows.erase(change.key);
      if (change.kind != ChangeKind::kInsert && change.kind != ChangeKind::kUpdate) continue;
      Row& row = rows[change.key];
      for (const auto& column : change.columns) {
        if (columns.contains(column.column)) row[column.column] = column.after;
      }
    }
  }
  return rows;
}

std::set<std::string> Shared(const Table* a, const Table* b) {
  std::set<std::string> shared((a ? a : b)->columns.begin(), (a ? a : b)->columns.end());
  if (a && b) {
    std::erase_if(shared, [&](const std::string& c) {
      return std::find(b->columns.begin(), b->columns.end(), c) == b->columns.end();
    });
  }
  return shared;
}

const Table* Find(const Tables& tables, const std::string& name) {
  const auto it = tables.find(name);
  return it == tables.end() ? nullptr : &it->second;
}

}  // namespace

Differences CompareWithDatabase(const std::vector<RunRecord>& runs, const std::string& before,
                                const std::string& after) {
  Database old_db = Database::Open(before), new_db = Database::Open(after);
  const Tables old_tables = TablesOf(old_db), new_tables = TablesOf(new_db);
  std::set<std::string> names;
  for (const auto& [name, table] : old_tables) names.insert(name);
  for (const auto& [name, table] : new_tables) names.insert(name);
  Differences out;
  for (const auto& name : names) {
    const Table *old_table = Find(old_tables, name), *new_table = Find(new_tables, name);
    const std::set<std::string> columns = Shared(old_table, new_table);
    const Rows old_rows = old_table ? RowsOf(old_db, name, *old_table, columns) : Rows();
    const Rows new_rows = new_table ? RowsOf(new_db, name, *new_table, columns) : Rows();
    const Rows recorded = Replayed(old_rows, name, columns, runs, out.recorded);
    const bool keyless = (old_table ? old_table : new_table)->key.empty();
    const auto add = keyless ? AddTableLine : AddCellLines;
    add(name, old_rows, recorded, out.recorded);
    add(name, old_rows, new_rows, out.real);
  }
  std::sort(out.recorded.begin(), out.recorded.end());
  std::sort(out.real.begin(), out.real.end());
  return out;
}

}  // namespace testing_support
