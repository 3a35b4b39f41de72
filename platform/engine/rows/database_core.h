// An open database below the Database class: the connection with its share
// of the lock file, its statement cache and its table catalog. Database owns
// one; the layers above reach SQLite through it. Member order is destruction
// order in reverse: the statements go before the connection, the connection
// before its share of the lock file and those of the files attached to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/engine/connection/attached_files.h"
#include "platform/engine/connection/connection.h"
#include "platform/engine/connection/lock_file.h"
#include "platform/engine/connection/savepoint.h"
#include "platform/engine/connection/statement_cache.h"
#include "platform/engine/rows/table_catalog.h"

namespace platform::engine::internal {

struct DatabaseCore {
  // `vfs` names the SQLite VFS of the connection, the default when null.
  DatabaseCore(const std::string& database_path, bool create, const char* vfs = nullptr)
      : path(database_path),
        lock(std::in_place, path),
        connection(path, create, vfs),
        statements(connection.get()) {}
  // An empty in-memory database, no lock file; `label` is its path() for
  // messages.
  struct InMemory {};
  DatabaseCore(const std::string& label, InMemory)
      : path(label), connection(":memory:", true), statements(connection.get()) {}

  sqlite3* db() const { return connection.get(); }
  // A savepoint around one change on the connection (see Savepoint).
  Savepoint Change(std::string_view name = "engine_change") {
    return Savepoint(connection, statements, name);
  }
  // After any statement that may change the schema.
  void SchemaChanged() { tables.Invalidate(); }
  const TableInfo& Table(std::string_view name) { return tables.Table(statements, name); }

  // What Database::UpdateRow's statement assigns, while it runs: only those
  // columns of that row can change at the statement's own level (a
  // trigger's writes come at a greater depth of the pre-update hook), so
  // the change recorder reads no other. Their positions are the catalog's,
  // trusted as every row write trusts it: the catalog is forgotten when the
  // engine changes the schema, not when another program does. Set by
  // UpdatingRow.
  struct RowUpdate {
    const TableInfo& table;
    const std::vector<const ColumnInfo*>& columns;
    std::int64_t rowid;
  };
  const RowUpdate* updating = nullptr;

  std::string path;
  std::optional<LockFileShare> lock;  // none in memory
  // Before the connection: their lock files are released after it closes.
  AttachedFiles attached;
  Connection connection;
  StatementCache statements;
  TableCatalog tables;
};

// Announces `update` in `core.updating` for its lifetime.
class UpdatingRow {
 public:
  UpdatingRow(DatabaseCore& core, const DatabaseCore::RowUpdate& update) : core_(core) {
    core_.updating = &update;
  }
  UpdatingRow(const UpdatingRow&) = delete;
  UpdatingRow& operator=(const UpdatingRow&) = delete;
  ~UpdatingRow() { core_.updating = nullptr; }

 private:
  DatabaseCore& core_;
};

}  // namespace platform::engine::internal
