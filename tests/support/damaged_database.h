// Real SQLite files damaged as a bad write or a cut copy leaves them, and
// the sqlite3 tool's word on them, so that a test first shows the damage is
// there before it shows what a program does with it.
#pragma once

#include <string>

namespace testing_support {

enum class Damage {
  // The cell count in the page header of a table's root page lowered by
  // one: the last row vanishes from the page while its bytes stay.
  kLoweredCellCount,
  // The file cut short by 1,000 bytes.
  kTruncated,
};

// Damages the database at `path`. REQUIRES: for kLoweredCellCount, `table`'s
// root page is a leaf holding two rows at least (a small table).
void DamageDatabase(const std::string& path, Damage damage, const std::string& table = "Tests");

// The output of "PRAGMA quick_check" by the sqlite3 tool on `path`.
std::string QuickCheckOutput(const std::string& path);

}  // namespace testing_support
