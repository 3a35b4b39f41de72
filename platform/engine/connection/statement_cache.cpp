#include "platform/engine/connection/statement_cache.h"

namespace platform::engine::internal {

Statement& StatementCache::Get(std::string_view sql) {
  auto it = statements_.find(sql);
  if (it == statements_.end()) {
    auto statement = std::make_unique<Statement>(db_, sql);
    it = statements_.emplace(std::string(sql), std::move(statement)).first;
  }
  return *it->second;
}

}  // namespace platform::engine::internal
