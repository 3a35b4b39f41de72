#include "platform/workbook/internal/workbook_error.h"

#include <cstdio>
#include <string>

#include "platform/workbook/internal/biff_records.h"
#include "platform/workbook/workbook.h"

namespace platform::workbook {

namespace {

std::string Hex4(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", v & 0xFFFFu);
  return buf;
}

Error DamagedError() {
  return Error(err::kDamaged, "Workbook is damaged");
}

std::string BiffVersionName(unsigned bof_type, unsigned version) {
  switch (bof_type) {
    case biff::kBofBiff2: return "BIFF2";
    case biff::kBofBiff3: return "BIFF3";
    case biff::kBofBiff4: return "BIFF4";
  }
  if (version == 0x0500) return "BIFF5";
  if (version == biff::kBiff8Version) return "BIFF8";
  return Hex4(version);
}

}  // namespace

void ThrowDamaged(std::size_t record_offset, const char* problem) {
  throw DamagedError()
      .AddDetail("record offset", std::to_string(record_offset))
      .AddDetail("problem", problem);
}

Error DamagedContainerError(const char* problem) {
  return DamagedError().AddDetail("problem", problem);
}

Error NotAWorkbookError(const char* reason) {
  return Error(err::kNotAWorkbook, "Not a workbook file").AddDetail("problem", reason);
}

Error UnsupportedVersionError(unsigned bof_type, unsigned version) {
  return Error(err::kUnsupportedVersion, "Workbook version not supported")
      .AddDetail("BOF record", Hex4(bof_type))
      .AddDetail("BIFF version", BiffVersionName(bof_type, version));
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
