// Trigger firing turned off on a connection for a guard's lifetime: the
// engine's own rewrites of rows then fire no other program's trigger.
#pragma once

#include <sqlite3.h>

namespace platform::engine::internal {

class TriggersOff {
 public:
  explicit TriggersOff(sqlite3* db) : db_(db) { Set(0); }
  TriggersOff(const TriggersOff&) = delete;
  TriggersOff& operator=(const TriggersOff&) = delete;
  ~TriggersOff() { Set(1); }

 private:
  void Set(int enabled) {
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, enabled, nullptr);
  }
  sqlite3* db_;
};

}  // namespace platform::engine::internal
