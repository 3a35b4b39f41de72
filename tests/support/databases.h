// Real SQLite files: the examples' analyser database, dumps, single values, damage.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/core/value.h"
#include "platform/engine/database.h"

namespace testing_support {

// examples/analyser-sample-data.sql: tests 1 GLU, 2 CHOL, 3 ALT with volumes, ranges, kits.
std::string SampleDataSql();
// `path` from examples/analyser-schema.sql (its first rewrite.first, when given, replaced by
// rewrite.second), then `data_sql` run; the connection stays open.
platform::engine::Database CreateAnalyserDatabase(
    const std::string& path, std::string_view data_sql = {},
    std::pair<std::string_view, std::string_view> rewrite = {});
// SQL adding tests first..first+count-1 named T<number>, each with volumes, a range and a kit.
std::string ExistingTestsSql(int first, int count);

// The value of a one-row, one-column query (a test failure for anything else).
platform::Value QueryValue(platform::engine::Database& db, std::string_view sql);
platform::Value QueryValue(const std::string& path, std::string_view sql);
std::int64_t QueryCount(platform::engine::Database& db, std::string_view sql);
std::int64_t QueryCount(const std::string& path, std::string_view sql);

// The rows of `sql` as the sqlite3 tool prints them: "|" between cells, NULL for null.
std::string DumpRows(platform::engine::Database& db, const std::string& sql);
// Schema and every table's rows in rowid order, cells with their kinds: equal dumps, equal files.
std::string DumpDatabase(const std::string& path);

// Adds Filler (Note MEMO): 3,000 rows "ROW-<n>-<200 hex digits>", about 600 kB to spill.
void AddFiller(const std::string& path);
// Leaves `path` as a program killed mid-transaction does: a hot journal beside it, the file
// half written over AddFiller's committed rows (none of them "HALF-WRITTEN"), a stale lock.
void LeaveHotJournal(const std::string& path);

enum class Damage {
  kLoweredCellCount,  // a table's root page counts one cell less: its last row vanishes
  kTruncated,         // 1,000 bytes cut off after a VACUUM, so pages in use go
};
// REQUIRES for kLoweredCellCount: `table`'s root page is a leaf with two rows at least.
void DamageDatabase(const std::string& path, Damage damage, const std::string& table = "Tests");
// "PRAGMA quick_check" by the sqlite3 tool, for a test to show first that the damage is there.
std::string QuickCheckOutput(const std::string& path);

}  // namespace testing_support
