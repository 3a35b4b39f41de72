// The workbook globals substream: the sheet list, the shared strings and the
// date system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::workbook {

struct SheetEntry {
  std::string name;
  std::uint8_t type = 0;   // biff::kSheetWorksheet, kSheetChart, ...
  std::size_t offset = 0;  // of the sheet's BOF in the stream
};

struct WorkbookGlobals {
  std::vector<SheetEntry> sheets;  // tab order
  std::vector<std::string> shared_strings;
  bool date_1904 = false;
};

// Reads from the stream's first BOF to its matching EOF. Throws "Workbook
// version not supported" unless that BOF is BIFF8, "Workbook is encrypted" at
// a FILEPASS, "Workbook is damaged" for records that do not fit.
WorkbookGlobals ReadWorkbookGlobals(std::string_view stream);

}  // namespace platform::workbook
