#include "platform/engine/connection/read_only_source.h"

#include <utility>

#include "platform/core/error.h"
#include "platform/engine/connection/connection.h"
#include "platform/engine/connection/engine_failure.h"

namespace platform::engine::internal {

ReadOnlySource::ReadOnlySource(const std::string& path, HotJournal hot_journal) {
  const bool recover = hot_journal == HotJournal::kRollBack && !ReadOnlyNote(path);
  const int flags = (recover ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
  SetUpSqliteOnce();
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) Fail(path);
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 5000);
  const char* sql = recover ? "PRAGMA query_only = ON; SELECT count(*) FROM sqlite_schema"
                            : "SELECT count(*) FROM sqlite_schema";
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(path);
}

void ReadOnlySource::Fail(const std::string& path) {
  Error failure = db_ == nullptr ? Error(SQLITE_NOMEM, "out of memory") : SqliteFailure(db_);
  sqlite3_close_v2(db_);
  db_ = nullptr;
  throw std::move(failure.AddDetail("database", path));
}

}  // namespace platform::engine::internal
