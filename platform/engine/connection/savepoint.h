// A savepoint guard: what runs between construction and Release() is undone
// as a whole when Release() is not reached.
#pragma once

#include <string>
#include <string_view>

#include "platform/engine/connection/connection.h"
#include "platform/engine/connection/statement_cache.h"

namespace platform::engine::internal {

class Savepoint {
 public:
  // SAVEPOINT and RELEASE are taken from `statements`, prepared once: a
  // change history sets one savepoint per assay it records.
  // REQUIRES: `statements` are `connection`'s; `name` is a plain identifier.
  Savepoint(Connection& connection, StatementCache& statements, std::string_view name)
      : connection_(connection), statements_(statements), name_(name) {
    Step("SAVEPOINT ");
  }
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
  ~Savepoint() {
    if (released_) return;
    try {
      connection_.Exec("ROLLBACK TO " + name_ + "; RELEASE " + name_);
    } catch (...) {
      // The connection reports its own state at the next statement.
    }
  }
  void Release() {
    Step("RELEASE ");
    released_ = true;
  }

 private:
  void Step(std::string_view verb) {
    StatementUse(statements_.Get(std::string(verb) + name_))->Step();
  }

  Connection& connection_;
  StatementCache& statements_;
  std::string name_;
  bool released_ = false;
};

}  // namespace platform::engine::internal
