// The reader's failures, each with its fixed description and the facts that
// locate it in the workbook stream.
#pragma once

#include <cstddef>

#include "platform/core/error.h"

namespace platform::workbook {

// "Workbook is damaged" with the stream offset of the record and what is
// wrong with it (a short fixed phrase).
[[noreturn]] void ThrowDamaged(std::size_t record_offset, const char* problem);
// "Workbook is damaged" in the compound file around the workbook stream.
Error DamagedContainerError(const char* problem);

Error NotAWorkbookError(const char* reason);
// The BOF record's type and version field; the BIFF version they mean is a
// detail of its own ("BIFF4"), the version field's value where it is unknown.
Error UnsupportedVersionError(unsigned bof_type, unsigned version);
Error EncryptedError();
Error CellOutOfRangeError(int row, int column);

}  // namespace platform::workbook
