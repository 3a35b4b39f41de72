// A savepoint guard: what runs between construction and Release() is undone
// as a whole when Release() is not reached.
#pragma once

#include "platform/engine/connection/connection.h"

namespace platform::engine::internal {

class Savepoint {
 public:
  explicit Savepoint(Connection& connection) : connection_(connection) {
    connection_.Exec("SAVEPOINT engine_change");
  }
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
  ~Savepoint() {
    if (released_) return;
    try {
      connection_.Exec("ROLLBACK TO engine_change; RELEASE engine_change");
    } catch (...) {
      // The connection reports its own state at the next statement.
    }
  }
  void Release() {
    connection_.Exec("RELEASE engine_change");
    released_ = true;
  }

 private:
  Connection& connection_;
  bool released_ = false;
};

}  // namespace platform::engine::internal
