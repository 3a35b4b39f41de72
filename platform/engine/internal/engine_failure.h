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

// Refuses an SQL text holding a NUL character: SQLite reads a text only up
// to its first NUL, so the rest (a second statement, the end of a quoted
// name) would be dropped without a word.
void RefuseNulCharacter(std::string_view sql);

}  // namespace platform::engine::internal
