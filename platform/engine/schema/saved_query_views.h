// The views of saved queries, for the schema changes that must drop views
// (SQLite refuses to drop a column while any view over it exists).
#pragma once

#include <string>
#include <string_view>

namespace platform::engine {
class Database;
}

namespace platform::engine::internal {

// Keeps the text of the view `name`, whose `CREATE VIEW` statement is
// `create_sql`, as a saved query when no saved query of that name exists, so
// that the view is made again once it compiles (MakeMissingViews). A column
// list in the statement is not kept: the view comes back with the names of
// its select list.
void KeepViewAsSavedQuery(Database& db, std::string_view name, std::string_view create_sql);

}  // namespace platform::engine::internal
