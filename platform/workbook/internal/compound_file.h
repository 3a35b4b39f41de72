// The workbook stream out of an OLE compound file.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/large_pages.h"
#include "platform/core/unique_fd.h"

namespace platform::workbook {

// The bytes of the root storage's workbook stream: "Workbook" in any case of
// its letters, else "Book" in any case. Which BIFF version the stream holds
// is decided by its first BOF, not by its name.
// Throws "Workbook version not supported" for a bare BIFF2/3/4 stream (no
// compound file), "Not a workbook file" when `file` is no compound file or
// has no such stream, "Workbook is damaged" when the compound file's
// structure is damaged or the stream cannot be read whole.
LargeArray<char> ReadWorkbookStream(std::string_view file);

// The same from the open file `fd` of `path`, which it takes over and closes.
// The compound-file library reads the stream's sectors straight from the
// file, so the file is never held in memory besides the stream. A file that
// cannot be read, or is no regular file, fails with "Device I/O error" (57).
LargeArray<char> ReadWorkbookStream(UniqueFd fd, const std::string& path);

}  // namespace platform::workbook
