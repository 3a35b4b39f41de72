// The backup API's copy of one connection's main database over another's.
#pragma once

#include <sqlite3.h>

namespace platform::engine::internal {

// Copies every page of `from`'s main database over `to`'s in one step: the
// source's read lock is held from the first page to the last. Throws the
// engine's error of `to` when the copy fails (then `to` is rolled back).
void CopyPages(sqlite3* from, sqlite3* to);

}  // namespace platform::engine::internal
