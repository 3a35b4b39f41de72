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
#include "platform/engine/connection/statement.h"
#include "platform/engine/files/copy_pages.h"
#include "platform/engine/rows/database_core.h"
#include "platform/engine/snapshot.h"

namespace platform::engine {

namespace {

// A plain read-only SQLite connection to `path`, outside the engine: no lock
// file, no journal mode change. Closed on destruction.
class ReadOnlySource {
 public:
  explicit ReadOnlySource(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
      Fail(path);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 5000);
    // Reads the schema now, so that a file that is no database, or one with
    // a journal to roll back, fails here with its own cause.
    if (sqlite3_exec(db_, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
      Fail(path);
    }
  }
  ReadOnlySource(const ReadOnlySource&) = delete;
  ReadOnlySource& operator=(const ReadOnlySource&) = delete;
  ~ReadOnlySource() { sqlite3_close_v2(db_); }
  sqlite3* get() const { return db_; }

 private:
  [[noreturn]] void Fail(const std::string& path) {
    Error failure =
        db_ == nullptr ? Error(SQLITE_NOMEM, "out of memory") : internal::SqliteFailure(db_);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw std::move(failure.AddDetail("database", path));
  }
  sqlite3* db_ = nullptr;
};

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
  ReadOnlySource source(path);
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
