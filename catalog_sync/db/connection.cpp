#include "catalog_sync/db/connection.h"

#include "platform/core/error.h"
#include "platform/core/message_box.h"

namespace catalog_sync::db {

bool OpenConnection(const std::string& path,
                    std::optional<platform::engine::Database>& connection) {
  try {
    connection.emplace(platform::engine::Database::Open(path));
    return true;
  } catch (const platform::Error& failure) {
    connection.reset();
    platform::MessageBox("The following error occured while opening the database\r\n" +
                             platform::ErrorNumberLine(failure.number(), failure.description()),
                         platform::kCriticalOkOnly, "Open Connection");
    platform::WriteDetails(failure);
    return false;
  }
}

}  // namespace catalog_sync::db
