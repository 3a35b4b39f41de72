#include "platform/workbook/internal/workbook_error.h"

#include <cstdio>
#include <string>

#include "platform/workbook/workbook.h"

namespace platform::workbook {

namespace {

std::string Hex4(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", v & 0xFFFFu);
  return buf;
}

}  // namespace

void ThrowDamaged(std::size_t record_offset, const char* problem) {
  throw Error(err::kDamaged, "Workbook is damaged")
      .AddDetail("record offset", std::to_string(record_offset))
      .AddDetail("problem", problem);
}

Error NotAWorkbookError(const char* reason) {
  return Error(err::kNotAWorkbook, "Not a workbook file").AddDetail("problem", reason);
}

Error UnsupportedVersionError(unsigned bof_type, unsigned version) {
  return Error(err::kUnsupportedVersion, "Workbook version not supported")
      .AddDetail("BOF record", Hex4(bof_type))
      .AddDetail("BIFF version", Hex4(version));
}

Error EncryptedError() {
  return Error(err::kEncrypted, "Workbook is encrypted");
}

Error CellOutOfRangeError(int row, int column) {
  return Error(err::kCellOutOfRange, "Cell reference out of range")
      .AddDetail("row", std::to_string(row))
      .AddDetail("column", std::to_string(column));
}

}  // namespace platform::workbook
