#include "platform/workbook/internal/record_cursor.h"

#include "platform/workbook/internal/biff_records.h"
#include "platform/workbook/internal/byte_order.h"
#include "platform/workbook/internal/workbook_error.h"

namespace platform::workbook {

namespace {
constexpr std::size_t kRecordHeaderSize = 4;
}

RecordCursor::RecordCursor(std::string_view stream, std::size_t offset)
    : stream_(stream), offset_(offset) {}

Record RecordCursor::Next() {
  if (stream_.size() - offset_ < kRecordHeaderSize) ThrowDamaged(offset_, "record header cut off");
  Record record;
  record.offset = offset_;
  record.type = LoadU16(stream_.data() + offset_);
  const std::size_t length = LoadU16(stream_.data() + offset_ + 2);
  if (stream_.size() - offset_ - kRecordHeaderSize < length) {
    ThrowDamaged(offset_, "record longer than the stream");
  }
  record.payload = stream_.substr(offset_ + kRecordHeaderSize, length);
  offset_ += kRecordHeaderSize + length;
  return record;
}

std::optional<std::uint16_t> RecordCursor::PeekType() const {
  if (stream_.size() - offset_ < kRecordHeaderSize) return std::nullopt;
  return LoadU16(stream_.data() + offset_);
}

std::vector<std::string_view> RecordCursor::TakeContinues() {
  std::vector<std::string_view> payloads;
  while (PeekType() == biff::kContinue) payloads.push_back(Next().payload);
  return payloads;
}

}  // namespace platform::workbook
