// The workbook stream out of an OLE compound file.
#pragma once

#include <string>
#include <string_view>

namespace platform::workbook {

// The bytes of the root storage's workbook stream: "Workbook", "WORKBOOK",
// "Book" or "BOOK", the first of these names found. Which BIFF version the
// stream holds is decided by its first BOF, not by its name.
// Throws "Not a workbook file" when `file` is no compound file or has no such
// stream, "Workbook is damaged" when the stream cannot be read whole.
std::string ReadWorkbookStream(std::string_view file);

}  // namespace platform::workbook
