// Reading a run's stored record back from the history tables of a
// connection, and the hash of a sealed run computed from those rows: the
// writer's Seal and the reader's Verify call the same function, so what is
// sealed is what is verified.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/history/record.h"

namespace platform::history::internal {

// The header in the columns format::kHeaderColumns selected from `first`
// on, and the end in format::kEndColumns.
RunHeader HeaderAt(sqlite3_stmt* row, int first);
RunEnd EndAt(sqlite3_stmt* row, int first);
// A cell's bytes; a null (only a hand-edited file holds one) as "". The
// view holds until the statement steps on.
std::string TextAt(sqlite3_stmt* row, int column);
std::string_view BytesAt(sqlite3_stmt* row, int column);

// The header of run `run` in the tables of `schema`; none when missing.
std::optional<RunHeader> ReadHeader(sqlite3* db, const std::string& schema, std::int64_t run);
// The run's changes in order.
std::vector<Change> ReadChanges(sqlite3* db, const std::string& schema, std::int64_t run);
// The hash (lower-case hex) of run `run` sealed as `sequence` with `end`
// after `previous_hash`, over the header and changes stored now; none when
// the run's header is missing.
std::optional<std::string> HashOfRun(sqlite3* db, const std::string& schema, std::int64_t sequence,
                                     std::int64_t run, const RunEnd& end,
                                     const std::string& previous_hash);

}  // namespace platform::history::internal
