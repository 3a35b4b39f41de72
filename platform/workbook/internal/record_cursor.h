// Walks the records of a workbook stream: a 2-byte type, a 2-byte length and
// that many bytes. Records longer than the 8,224 bytes the format allows are
// accepted as long as they lie inside the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace platform::workbook {

struct Record {
  std::uint16_t type = 0;
  std::size_t offset = 0;    // of the record header in the stream
  std::string_view payload;  // a view into the stream
};

class RecordCursor {
 public:
  // REQUIRES: `stream` outlives the cursor and every Record it returns.
  RecordCursor(std::string_view stream, std::size_t offset);

  bool AtEnd() const { return offset_ >= stream_.size(); }
  std::size_t offset() const { return offset_; }
  // Throws "Workbook is damaged" when the header or payload is cut off.
  Record Next();
  // The type of the next record, without consuming it; empty at the end.
  std::optional<std::uint16_t> PeekType() const;
  // Consumes the CONTINUE records that follow and returns their payloads.
  std::vector<std::string_view> TakeContinues();

 private:
  std::string_view stream_;
  std::size_t offset_;
};

}  // namespace platform::workbook
