#include "platform/workbook/internal/workbook_globals.h"

#include "platform/workbook/internal/biff_records.h"
#include "platform/workbook/internal/byte_order.h"
#include "platform/workbook/internal/record_cursor.h"
#include "platform/workbook/internal/segmented_reader.h"
#include "platform/workbook/internal/shared_strings.h"
#include "platform/workbook/internal/substream.h"
#include "platform/workbook/internal/workbook_error.h"

namespace platform::workbook {

namespace {

SheetEntry ReadBoundSheet(const Record& r) {
  // lbPlyPos (4), hidden state (1), sheet type (1), then the name.
  if (r.payload.size() < 8) ThrowDamaged(r.offset, "BOUNDSHEET record too short");
  SheetEntry entry;
  entry.offset = LoadU32(r.payload.data());
  entry.type = static_cast<std::uint8_t>(r.payload[5]);
  SegmentedReader name(std::vector<std::string_view>{r.payload.substr(6)}, r.offset);
  entry.name = name.UnicodeString(1);
  return entry;
}

}  // namespace

WorkbookGlobals ReadWorkbookGlobals(std::string_view stream) {
  RecordCursor cursor(stream, 0);
  if (cursor.AtEnd()) throw NotAWorkbookError("empty workbook stream");
  CheckBiff8Bof(cursor.Next());
  WorkbookGlobals globals;
  for (;;) {
    if (cursor.AtEnd()) ThrowDamaged(cursor.offset(), "workbook globals without EOF");
    const Record r = cursor.Next();
    switch (r.type) {
      case biff::kEof: return globals;
      case biff::kFilePass: throw EncryptedError();
      case biff::kBof: SkipEmbeddedSubstream(&cursor); break;
      case biff::kBoundSheet: globals.sheets.push_back(ReadBoundSheet(r)); break;
      case biff::kSst: globals.shared_strings = ReadSharedStrings(r, cursor.TakeContinues()); break;
      case biff::kDateMode:
        if (r.payload.size() < 2) ThrowDamaged(r.offset, "DATEMODE record too short");
        globals.date_1904 = LoadU16(r.payload.data()) != 0;
        break;
      default: break;
    }
  }
}

}  // namespace platform::workbook
