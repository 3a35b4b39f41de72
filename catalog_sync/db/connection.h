// The run's one database connection.
#pragma once

#include <optional>
#include <string>

#include "platform/core/error.h"
#include "platform/core/message_box.h"
#include "platform/engine/database.h"

namespace catalog_sync::db {

// Opens the database file `path` into `connection`. Traps every failure:
// then shows the "Open Connection" box with the engine's number and
// description (and `detail:` lines), leaves `connection` empty and returns
// false.
bool OpenConnection(const std::string& path, std::optional<platform::engine::Database>& connection);

// The "Open Connection" box for the engine's failure to open the database.
platform::BoxMessage OpenConnectionMessage(const platform::Error& failure);

}  // namespace catalog_sync::db
