// The rowids of one table's rows in a select: the select list of
// "SELECT <table>.* FROM ..." or "SELECT * FROM ..." becomes
// "<table>.rowid", everything after it stays.
#pragma once

#include <string>
#include <string_view>

namespace platform::engine::internal {

// Throws engine_err::kUnsupportedSource for any other select list.
std::string RowidSelect(std::string_view table, std::string_view select_sql);

}  // namespace platform::engine::internal
