// OpenInMemoryCopy and the sizes of a database: the copy that a dry run
// works on, and what a compaction of it would gain.
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/read_only_source.h"
#include "platform/engine/connection/statement.h"
#include "platform/engine/files/copy_pages.h"
#include "platform/engine/rows/database_core.h"
#include "platform/engine/snapshot.h"

namespace platform::engine {

namespace {

std::int64_t PragmaNumber(sqlite3* db, const char* pragma) {
  internal::Statement statement(db, pragma);
  statement.Step();
  return statement.ColumnInt64(0);
}

std::int64_t SizeOf(sqlite3* db) {
  return PragmaNumber(db, "PRAGMA page_count") * PragmaNumber(db, "PRAGMA page_size");
}

}  // namespace

Database OpenInMemoryCopy(const std::string& path) {
  if (!FileExists(path)) throw Error(err::kFileNotFound).AddDetail("database", path);
  internal::ReadOnlySource source(path);
  auto core = std::make_unique<internal::DatabaseCore>(path, internal::DatabaseCore::InMemory{});
  try {
    internal::CopyPages(source.get(), core->db());
    core->connection.TakeReadOnlyFrom(path);
  } catch (Error& failure) {
    throw std::move(failure.AddDetail("database", path));
  }
  return Database(std::move(core));
}

std::int64_t DatabaseSize(Database& db) {
  return SizeOf(db.core().db());
}

std::int64_t CompactedSize(Database& db) {
  internal::DatabaseCore scratch(db.path(), internal::DatabaseCore::InMemory{});
  internal::CopyPages(db.core().db(), scratch.db());
  scratch.connection.Exec("VACUUM");
  return SizeOf(scratch.db());
}

}  // namespace platform::engine
