#include "catalog_sync/db/connection.h"

namespace catalog_sync::db {

platform::BoxMessage OpenConnectionMessage(const platform::Error& failure) {
  return {"Open Connection",
          "The following error occured while opening the database\r\n" +
              platform::ErrorNumberLine(failure.number(), failure.description()),
          failure.details()};
}

bool OpenConnection(const std::string& path,
                    std::optional<platform::engine::Database>& connection) {
  try {
    connection.emplace(platform::engine::Database::Open(path));
    return true;
  } catch (const platform::Error& failure) {
    connection.reset();
    platform::ShowBox(OpenConnectionMessage(failure), platform::kCriticalOkOnly);
    return false;
  }
}

}  // namespace catalog_sync::db
