// RAII owner of one SQLite connection, set up as every connection of the
// engine must be: rollback journal, 5 s busy timeout, UCASE().
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace platform::engine::internal {

class Connection {
 public:
  // Opens read-write; `create` allows creating a missing file.
  Connection(const std::string& path, bool create);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  sqlite3* get() const noexcept { return db_; }
  // Runs SQL text of any number of statements without results.
  void Exec(std::string_view sql);

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace platform::engine::internal
