// The prepared statements of one connection, by SQL text: the typed row
// operations prepare each statement once and reuse it for every row.
#pragma once

#include <sqlite3.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/engine/connection/statement.h"

namespace platform::engine::internal {

class StatementCache {
 public:
  explicit StatementCache(sqlite3* db) : db_(db) {}
  // The statement of `sql`, prepared on first use. The reference stays
  // valid until Clear(); use it through a StatementUse.
  Statement& Get(std::string_view sql);
  void Clear() { statements_.clear(); }

 private:
  sqlite3* db_;
  std::map<std::string, std::unique_ptr<Statement>, std::less<>> statements_;
};

}  // namespace platform::engine::internal
