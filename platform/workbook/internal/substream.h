// The BOF ... EOF frame shared by the globals and each sheet's substream.
#pragma once

#include <cstdint>

#include "platform/workbook/internal/record_cursor.h"

namespace platform::workbook {

// The substream type of a BIFF8 BOF record (0x0005 globals, 0x0010 sheet,
// 0x0020 chart, ...). Throws "Workbook version not supported" for a BOF of
// BIFF2 to BIFF5 and "Workbook is damaged" for any other record.
std::uint16_t CheckBiff8Bof(const Record& record);

// REQUIRES: the cursor has just passed a BOF inside a substream (an embedded
// chart). Skips up to and including its matching EOF, nested ones included.
void SkipEmbeddedSubstream(RecordCursor* cursor);

}  // namespace platform::workbook
