// Reads a record's payload together with its CONTINUE records as one byte
// sequence, the way strings are stored across them.
//
// Plain fields (lengths, flags, formatting runs, phonetic blocks) simply run
// on into the next segment. Characters of a string do not: a continuation
// that starts inside a string's characters begins with a fresh option byte
// whose bit 0 says whether the remaining characters are 8-bit or 16-bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::workbook {

class SegmentedReader {
 public:
  // REQUIRES: the segments' bytes outlive the reader. `record_offset` only
  // locates failures.
  SegmentedReader(std::vector<std::string_view> segments, std::size_t record_offset);

  // True when no byte is left in any segment.
  bool AtEnd();

  // Each read throws "Workbook is damaged" when the bytes run out.
  std::uint8_t U8();
  std::uint16_t U16();
  std::uint32_t U32();
  void Skip(std::uint64_t count);

  // A Unicode string: a character count of `count_bytes` (1 or 2) bytes, an
  // option byte, the run count and phonetic size when the options say so,
  // the characters, then the runs and the phonetic block, skipped. UTF-8.
  std::string UnicodeString(int count_bytes);

 private:
  // Moves to the next non-exhausted segment; false when there is none.
  bool NextSegment();
  std::size_t Available() const { return segments_[index_].size() - position_; }
  void AppendCharacters(std::size_t count, bool high_byte, std::u16string* out);

  std::vector<std::string_view> segments_;
  std::size_t index_ = 0;
  std::size_t position_ = 0;
  std::size_t record_offset_;
};

}  // namespace platform::workbook
