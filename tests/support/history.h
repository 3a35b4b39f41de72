// A run's record in the change history held against what really changed in
// the database: both as the same lines, so that a test compares them whole.
#pragma once

#include <string>
#include <vector>

#include "platform/history/record.h"

namespace testing_support {

// Sorted lines. A row of a table with a declared primary key gives one line
// per changed column, "<table> <key> <column>: <before> -> <after>" (values
// by Value::Describe() with their kind, "-" for a row that was not there).
// A table without one, whose rowids a compaction renumbers, is held whole:
// "<table> rows: <row>; <row>..." (rows by their content, sorted), when any
// of its rows changed.
using Difference = std::vector<std::string>;

struct Differences {
  Difference recorded;  // what the records' row changes do to `before`
  Difference real;      // what turned `before` into `after`
};

// The row changes of `runs`' records, in order, against the difference
// between the database files `before` and `after`, over the columns that
// both files have (a table only one of them has: all its columns). Changes
// of other kinds than rows are left out.
Differences CompareWithDatabase(const std::vector<platform::history::RunRecord>& runs,
                                const std::string& before, const std::string& after);

}  // namespace testing_support
