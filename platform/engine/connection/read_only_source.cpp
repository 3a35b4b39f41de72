#include "platform/engine/connection/read_only_source.h"

#include <utility>

#include "platform/core/error.h"
#include "platform/engine/connection/engine_failure.h"

namespace platform::engine::internal {

ReadOnlySource::ReadOnlySource(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    Fail(path);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 5000);
  if (sqlite3_exec(db_, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    Fail(path);
  }
}

void ReadOnlySource::Fail(const std::string& path) {
  Error failure = db_ == nullptr ? Error(SQLITE_NOMEM, "out of memory") : SqliteFailure(db_);
  sqlite3_close_v2(db_);
  db_ = nullptr;
  throw std::move(failure.AddDetail("database", path));
}

}  // namespace platform::engine::internal
