// A run's record in the change history held against what really changed in
// the database: both as the same lines, so that a test compares them whole.
#pragma once

#include <string>
#include <vector>

#include "platform/history/record.h"

namespace testing_support {

// One line per changed column of a changed row, sorted:
// "<table> <key> <column>: <before> -> <after>", values by Value::Describe()
// with their kind, "-" for no value (a row that was not there). Rows are
// keyed as the history keys them: by the declared primary key, else rowid.
using Difference = std::vector<std::string>;

// What turned the database file `before` into `after`, over the columns that
// both have (a table only one of them has: all its columns).
Difference DatabaseDifference(const std::string& before, const std::string& after);

// The net effect of a record's row changes, in the same lines: a row changed
// twice shows its first before and its last after; one inserted and deleted
// again shows nothing. Changes of other kinds are left out.
Difference RecordedDifference(const platform::history::RunRecord& run);

}  // namespace testing_support
