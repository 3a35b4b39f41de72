// Building the engine's platform::Error values: SQLite's failures with its
// extended result code and message, the engine's own with their numbers.
#pragma once

#include <sqlite3.h>

#include <string_view>

#include "platform/core/error.h"

namespace platform::engine::internal {

// The last failure on `db` (extended result code, sqlite3_errmsg), with the
// SQL text as a detail when one is given.
Error SqliteFailure(sqlite3* db, std::string_view sql = {});

// An engine failure with its fixed description.
Error EngineFailure(long number);

}  // namespace platform::engine::internal
