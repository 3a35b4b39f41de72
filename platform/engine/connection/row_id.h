// The rowid of a table's row as SQLite keeps it: the key of the typed row
// operations of database.h and of the rows that a statement wrote.
#pragma once

#include <cstdint>

namespace platform::engine {

using RowId = std::int64_t;

}  // namespace platform::engine
