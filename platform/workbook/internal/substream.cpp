#include "platform/workbook/internal/substream.h"

#include "platform/workbook/internal/biff_records.h"
#include "platform/workbook/internal/byte_order.h"
#include "platform/workbook/internal/workbook_error.h"

namespace platform::workbook {

std::uint16_t CheckBiff8Bof(const Record& record) {
  const std::uint16_t t = record.type;
  if (t != biff::kBof && t != biff::kBofBiff2 && t != biff::kBofBiff3 && t != biff::kBofBiff4) {
    ThrowDamaged(record.offset, "substream does not start with BOF");
  }
  if (record.payload.size() < 4) ThrowDamaged(record.offset, "BOF record too short");
  const std::uint16_t version = LoadU16(record.payload.data());
  if (t != biff::kBof || version != biff::kBiff8Version) {
    throw UnsupportedVersionError(t, version);
  }
  return LoadU16(record.payload.data() + 2);
}

void SkipEmbeddedSubstream(RecordCursor* cursor) {
  int depth = 1;
  while (depth > 0) {
    if (cursor->AtEnd()) ThrowDamaged(cursor->offset(), "embedded substream without EOF");
    const Record r = cursor->Next();
    if (r.type == biff::kBof) ++depth;
    if (r.type == biff::kEof) --depth;
  }
}

}  // namespace platform::workbook
