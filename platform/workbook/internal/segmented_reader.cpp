#include "platform/workbook/internal/segmented_reader.h"

#include <algorithm>

#include "platform/workbook/internal/biff_records.h"
#include "platform/workbook/internal/byte_order.h"
#include "platform/workbook/internal/utf8.h"
#include "platform/workbook/internal/workbook_error.h"

namespace platform::workbook {

SegmentedReader::SegmentedReader(std::vector<std::string_view> segments, std::size_t record_offset)
    : segments_(std::move(segments)), record_offset_(record_offset) {
  if (segments_.empty()) segments_.emplace_back();
}

bool SegmentedReader::NextSegment() {
  if (index_ + 1 >= segments_.size()) return false;
  ++index_;
  position_ = 0;
  return true;
}

bool SegmentedReader::AtEnd() {
  while (Available() == 0) {
    if (!NextSegment()) return true;
  }
  return false;
}

std::uint8_t SegmentedReader::U8() {
  if (AtEnd()) ThrowDamaged(record_offset_, "string data cut off");
  return static_cast<std::uint8_t>(segments_[index_][position_++]);
}

std::uint16_t SegmentedReader::U16() {
  const std::uint16_t low = U8();
  return static_cast<std::uint16_t>(low | (U8() << 8));
}

std::uint32_t SegmentedReader::U32() {
  const std::uint32_t low = U16();
  return low | (static_cast<std::uint32_t>(U16()) << 16);
}

void SegmentedReader::Skip(std::uint64_t count) {
  while (count > 0) {
    if (AtEnd()) ThrowDamaged(record_offset_, "string data cut off");
    const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(count, Available()));
    position_ += step;
    count -= step;
  }
}

void SegmentedReader::AppendCharacters(std::size_t count, bool high_byte, std::u16string* out) {
  while (count > 0) {
    const std::size_t width = high_byte ? 2 : 1;
    // A 16-bit character is never split; a lone byte before a continuation
    // is padding.
    const std::size_t fit = std::min(count, Available() / width);
    if (fit == 0) {
      if (!NextSegment()) ThrowDamaged(record_offset_, "string characters cut off");
      if (Available() == 0) continue;
      high_byte = (static_cast<std::uint8_t>(segments_[index_][0]) & biff::kStringHighByte) != 0;
      position_ = 1;
      continue;
    }
    const char* p = segments_[index_].data() + position_;
    for (std::size_t i = 0; i < fit; ++i) {
      out->push_back(high_byte ? static_cast<char16_t>(LoadU16(p + 2 * i))
                               : static_cast<char16_t>(static_cast<unsigned char>(p[i])));
    }
    position_ += fit * width;
    count -= fit;
  }
}

std::string SegmentedReader::UnicodeString(int count_bytes) {
  const std::size_t count = count_bytes == 1 ? U8() : U16();
  const std::uint8_t options = U8();
  const std::uint16_t runs = (options & biff::kStringRich) ? U16() : 0;
  const std::uint32_t phonetic_size = (options & biff::kStringPhonetic) ? U32() : 0;
  std::u16string units;
  units.reserve(count);  // at most 65,535
  AppendCharacters(count, (options & biff::kStringHighByte) != 0, &units);
  Skip(4ull * runs);
  Skip(phonetic_size);
  return Utf16ToUtf8(units);
}

}  // namespace platform::workbook
