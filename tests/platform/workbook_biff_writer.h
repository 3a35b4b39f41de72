// A tiny BIFF8 writer for the workbook reader's tests: records by hand, malformed ones included,
// the sheet offsets filled in, the stream wrapped in a compound file by libgsf.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace workbook_test {

std::string U16(std::uint16_t v);
std::string U32(std::uint32_t v);
std::string F64(double v);
// A record; its length is cut to 16 bits, so a test can write one whose length lies.
std::string Rec(std::uint16_t type, const std::string& payload);
std::string Bof(std::uint16_t substream_type, std::uint16_t version = 0x0600);
std::string Eof();
// An XLUnicodeString of 8-bit characters: a count of 1 or 2 bytes, flags 0, the characters.
std::string Compressed(const std::string& latin1, int count_bytes = 2);
// A cell record's row and column (1-based as the reader's API counts them) and XF index 15.
std::string CellHead(int row, int column);
std::string Number(int row, int column, double v);

struct Sheet {
  std::string name;
  std::uint8_t type = 0;  // 0 worksheet, 1 macro, 2 chart, 6 module (no substream)
  std::uint8_t hidden = 0;
  std::string records;  // between the sheet's BOF and EOF
};
// Globals BOF, `globals`, one BOUNDSHEET per sheet, EOF, then the sheets' substreams.
std::string Stream(const std::vector<Sheet>& sheets, const std::string& globals = "");
std::string CompoundFile(const std::string& stream, const std::string& stream_name = "Workbook");
std::string CompoundFile(const std::vector<std::pair<std::string, std::string>>& streams);

}  // namespace workbook_test
