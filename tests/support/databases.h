// Real SQLite files for the tests: the analyser database from the examples,
// one dump of a whole file, reads of one value, and the damage a killed
// program, a bad write or a cut copy leaves behind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/core/value.h"
#include "platform/engine/database.h"

namespace testing_support {

// examples/analyser-sample-data.sql: tests 1 GLU, 2 CHOL, 3 ALT with their
// volumes, ranges and kits.
std::string SampleDataSql();

// Creates the database file `path` from examples/analyser-schema.sql, with
// `rewrite` applied to the schema text first (e.g. {"Tests_Formula SHORT",
// "Tests_Formula BYTE"}) when given, then runs `data_sql`. The connection
// stays open for the caller.
platform::engine::Database CreateAnalyserDatabase(
    const std::string& path, std::string_view data_sql = {},
    std::pair<std::string_view, std::string_view> rewrite = {});

// SQL adding tests first..first+count-1 named T<number>, each with volumes,
// a normal range and a kit, as a site's catalogue has them.
std::string ExistingTestsSql(int first, int count);

// The single value of a one-row, one-column query (a test failure when the
// query gives anything else).
platform::Value QueryValue(platform::engine::Database& db, std::string_view sql);
platform::Value QueryValue(const std::string& path, std::string_view sql);
std::int64_t QueryCount(platform::engine::Database& db, std::string_view sql);
std::int64_t QueryCount(const std::string& path, std::string_view sql);

// The rows of `sql`, "|" between cells (Null as "NULL", else ToText) and
// "\n" after each row: the sqlite3 tool's form.
std::string DumpRows(platform::engine::Database& db, const std::string& sql);

// The schema (type, name, SQL of every object) and every table with its rows
// in rowid order, each cell described with its kind: equal dumps mean equal
// contents.
std::string DumpDatabase(const std::string& path);

// Adds the table Filler (Note MEMO) with 3,000 rows "ROW-<n>-<200 hex
// digits>", about 600 kB: room for a transaction to spill half-written pages,
// and a size that a small disk can be cut to.
void AddFiller(const std::string& path);

// Leaves `path` as a program killed in the middle of a transaction does: a
// hot journal beside it and the file itself half written (pages spilled from
// a full cache) over the committed rows of AddFiller, none of them
// "HALF-WRITTEN". A stale lock file stays as well.
void LeaveHotJournal(const std::string& path);

enum class Damage {
  // The cell count in the page header of a table's root page lowered by
  // one: the last row vanishes from the page while its bytes stay.
  kLoweredCellCount,
  // The file cut short by 1,000 bytes (after a VACUUM, so that the cut takes
  // pages in use).
  kTruncated,
};

// Damages the database at `path`. REQUIRES: for kLoweredCellCount, `table`'s
// root page is a leaf holding two rows at least (a small table).
void DamageDatabase(const std::string& path, Damage damage, const std::string& table = "Tests");

// The output of "PRAGMA quick_check" by the sqlite3 tool on `path`, so that
// a test first shows the damage is there.
std::string QuickCheckOutput(const std::string& path);

}  // namespace testing_support
