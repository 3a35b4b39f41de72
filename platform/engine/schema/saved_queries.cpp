// Saved queries: the table SavedQueries (Name, SQL) in stored order; a
// saved SELECT is also a view of its name.
#include <sqlite3.h>

#include <vector>

#include "platform/core/text.h"
#include "platform/engine/connection/engine_error.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/savepoint.h"
#include "platform/engine/connection/sql_quoting.h"
#include "platform/engine/connection/statement.h"
#include "platform/engine/database/sql_scanner.h"
#include "platform/engine/rows/database_core.h"
#include "platform/engine/schema.h"
#include "platform/engine/schema/saved_query_views.h"

namespace platform::engine {

namespace {

using internal::EngineFailure;

bool HasSavedQueriesTable(Database& db) {
  return !db.Query("SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = 'SavedQueries'")
              .empty();
}

// The SQL of the query of exactly this name.
std::optional<std::pair<RowId, std::string>> FindQuery(Database& db, std::string_view name) {
  if (!HasSavedQueriesTable(db)) return std::nullopt;
  const std::vector<Value> params = {Value(std::string(name))};
  const Rows rows = db.Query("SELECT rowid, SQL FROM SavedQueries WHERE Name = ?", params);
  if (rows.empty()) return std::nullopt;
  return std::make_pair(static_cast<RowId>(rows.rows[0][0].ToDouble()), rows.rows[0][1].ToText());
}

void RefuseNameInUse(Database& db, std::string_view name) {
  const std::string upper = UpperCase(name);
  std::vector<std::string> names;
  for (const auto& row :
       db.Query("SELECT name FROM sqlite_schema WHERE type IN ('table', 'view')").rows) {
    names.push_back(row[0].ToText());
  }
  for (const SavedQuery& q : SavedQueries(db)) names.push_back(q.name);
  for (const std::string& n : names) {
    if (UpperCase(n) == upper) {
      throw EngineFailure(engine_err::kNameInUse)
          .AddDetail("name", std::string(name))
          .AddDetail("in use by", n);
    }
  }
}

// The SQL without trailing semicolons and spaces, as a view's body.
std::string WithoutTerminator(std::string_view sql) {
  std::size_t end = sql.size();
  while (end > 0 && (sql[end - 1] == ';' || sql[end - 1] == ' ' || sql[end - 1] == '\n' ||
                     sql[end - 1] == '\r' || sql[end - 1] == '\t')) {
    --end;
  }
  return std::string(sql.substr(0, end));
}

bool IsSelect(Database& db, std::string_view sql) {
  internal::Statement statement(db.core().db(), sql);
  return statement.ColumnCount() > 0 && statement.ReadOnly();
}

bool HasView(Database& db, std::string_view name) {
  const std::vector<Value> params = {Value(std::string(name))};
  return !db.Query("SELECT 1 FROM sqlite_schema WHERE type = 'view' AND name = ?", params).empty();
}

enum class ViewOutcome { kMade, kNotASelect, kDoesNotCompile };

// Makes the view of the saved query `name`. SQLite's CREATE VIEW checks the
// syntax only, so a text that is no SELECT fails there; the names of its
// tables and fields are resolved when the view is compiled, and a view that
// does not compile is not left in the file (it would make SQLite refuse
// later schema changes).
// Only SQLite's SQL errors (syntax, unknown names) say that; a refusal of
// the engine (a NUL, a second statement) or a failing file passes on.
ViewOutcome MakeView(Database& db, std::string_view name, std::string_view sql) {
  internal::Savepoint change = db.core().Change();
  try {
    // One statement (Execute refuses more): the text is another's.
    db.Execute("CREATE VIEW " + QuoteIdentifier(name) + " AS " + WithoutTerminator(sql));
  } catch (const Error& error) {
    if (error.number() != SQLITE_ERROR) throw;
    return ViewOutcome::kNotASelect;
  }
  try {
    db.Prepare("SELECT * FROM " + QuoteIdentifier(name));
  } catch (const Error& error) {
    if (error.number() != SQLITE_ERROR) throw;
    return ViewOutcome::kDoesNotCompile;
  }
  change.Release();
  return ViewOutcome::kMade;
}

// The select of a CREATE VIEW statement: the text after its AS.
std::string ViewBody(std::string_view create_sql) {
  internal::SqlScanner scanner(create_sql);
  scanner.Keyword("CREATE");
  if (!scanner.Keyword("TEMP")) scanner.Keyword("TEMPORARY");
  scanner.Keyword("VIEW");
  if (scanner.Keyword("IF")) {
    scanner.Keyword("NOT");
    scanner.Keyword("EXISTS");
  }
  scanner.Identifier();
  if (scanner.Char('.')) scanner.Identifier();
  if (scanner.Char('(')) {
    while (!scanner.Identifier().empty() && scanner.Char(',')) {
    }
    scanner.Char(')');
  }
  scanner.Keyword("AS");
  scanner.SkipSpace();
  return std::string(create_sql.substr(scanner.position()));
}

void InsertSavedQuery(Database& db, std::string_view name, std::string_view sql) {
  db.Exec("CREATE TABLE IF NOT EXISTS SavedQueries (Name TEXT(255) NOT NULL, SQL MEMO NOT NULL)");
  db.InsertRow("SavedQueries",
               {{"Name", Value(std::string(name))}, {"SQL", Value(std::string(sql))}});
}

}  // namespace

namespace internal {

void KeepViewAsSavedQuery(Database& db, std::string_view name, std::string_view create_sql) {
  if (!FindQuery(db, name)) InsertSavedQuery(db, name, ViewBody(create_sql));
}

}  // namespace internal

std::vector<SavedQuery> SavedQueries(Database& db) {
  std::vector<SavedQuery> queries;
  if (!HasSavedQueriesTable(db)) return queries;
  for (const auto& row : db.Query("SELECT Name, SQL FROM SavedQueries ORDER BY rowid").rows) {
    queries.push_back({row[0].ToText(), row[1].ToText()});
  }
  return queries;
}

void DeleteSavedQuery(Database& db, std::string_view name) {
  const auto query = FindQuery(db, name);
  if (!query) {
    throw EngineFailure(engine_err::kUnknownQuery).AddDetail("query", std::string(name));
  }
  internal::Savepoint change = db.core().Change();
  db.DeleteRow("SavedQueries", query->first);
  db.Exec("DROP VIEW IF EXISTS " + QuoteIdentifier(name));
  change.Release();
}

void CreateSavedQuery(Database& db, std::string_view name, std::string_view sql) {
  RefuseNameInUse(db, name);
  internal::Savepoint change = db.core().Change();
  InsertSavedQuery(db, name, sql);
  // An action query must prepare as it stands.
  if (MakeView(db, name, sql) == ViewOutcome::kNotASelect) db.Prepare(sql);
  change.Release();
}

std::vector<std::string> MakeMissingViews(Database& db) {
  std::vector<SavedQuery> missing;
  for (SavedQuery& query : SavedQueries(db)) {
    if (!HasView(db, query.name)) missing.push_back(std::move(query));
  }
  // One view may use another: passes repeat while any view was made.
  bool progress = true;
  while (progress) {
    progress = false;
    std::vector<SavedQuery> still;
    for (SavedQuery& query : missing) {
      const ViewOutcome outcome = MakeView(db, query.name, query.sql);
      if (outcome == ViewOutcome::kMade) progress = true;
      if (outcome == ViewOutcome::kDoesNotCompile) still.push_back(std::move(query));
    }
    missing = std::move(still);
  }
  std::vector<std::string> names;
  for (const SavedQuery& query : missing) names.push_back(query.name);
  return names;
}

ExecuteResult RunSavedQuery(Database& db, std::string_view name) {
  const auto query = FindQuery(db, name);
  if (!query) {
    throw EngineFailure(engine_err::kUnknownQuery).AddDetail("query", std::string(name));
  }
  try {
    if (IsSelect(db, query->second)) {
      db.Query(query->second);
      return {};
    }
    return db.Execute(query->second);
  } catch (Error& failure) {
    failure.AddDetail("query", std::string(name));
    throw;
  }
}

}  // namespace platform::engine
