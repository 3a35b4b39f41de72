// The shared string table (SST) that LABELSST cells index.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/workbook/internal/record_cursor.h"

namespace platform::workbook {

// The strings of an SST record and its CONTINUE records, in order. The
// declared unique count is not trusted: strings are read until the data
// ends, and callers check an index against the size of the result.
std::vector<std::string> ReadSharedStrings(const Record& sst,
                                           const std::vector<std::string_view>& continues);

}  // namespace platform::workbook
