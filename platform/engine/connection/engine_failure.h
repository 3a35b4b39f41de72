// Building the engine's platform::Error values: SQLite's failures with its
// extended result code and message, the engine's own with their numbers.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/core/error.h"

namespace platform::engine::internal {

// The last failure on `db` (extended result code, sqlite3_errmsg), with the
// SQL text as a detail when one is given.
Error SqliteFailure(sqlite3* db, std::string_view sql = {});

// "<path> (mode 0444)" for a file that is read-only by its mode bits (the
// owner lacks the write bit), else nothing.
std::optional<std::string> ReadOnlyNote(const std::string& path);

// Remembers that `db`'s schema `schema` is a read-only file (or copy): the
// failures of `db` with SQLITE_READONLY get the detail "read-only: <note>",
// one per such schema (SQLite does not say which schema refused the write).
// Forget before `db` is closed; ForgetReadOnly(db) forgets every schema.
void NoteReadOnly(sqlite3* db, std::string note, const std::string& schema = "main");
void ForgetReadOnly(sqlite3* db);
void ForgetReadOnly(sqlite3* db, const std::string& schema);

// An engine failure with its fixed description.
Error EngineFailure(long number);

// Refuses an SQL text holding a NUL character: SQLite reads a text only up
// to its first NUL, so the rest (a second statement, the end of a quoted
// name) would be dropped without a word.
void RefuseNulCharacter(std::string_view sql);

}  // namespace platform::engine::internal
