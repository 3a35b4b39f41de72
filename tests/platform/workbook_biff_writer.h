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
// XLUnicodeStrings: a count of 1 or 2 bytes, then 8-bit (flag 0) or 16-bit (flag 1) characters.
std::string Compressed(const std::string& latin1, int count_bytes = 2);
std::string Wide(const std::u16string& units, int count_bytes = 2);

// Cell records, rows and columns 1-based as the reader's API counts.
std::string Number(int row, int column, double v);
std::string Rk(int row, int column, std::uint32_t rk);
std::string LabelSst(int row, int column, std::uint32_t index);
std::string BoolErr(int row, int column, std::uint8_t v, bool is_error, bool nine_bytes = false);
// `type` may be the number of an older BIFF version (0x0206, 0x0406).
std::string Formula(int row, int column, const std::string& result8, std::uint16_t type = 0x0006);
std::string FormulaNonNumber(std::uint8_t kind, std::uint8_t v);  // a cached result's 8 bytes

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
// The "Workbook" stream of a compound file ("" when none), for poking bytes of a real file.
std::string WorkbookStreamOf(const std::string& compound_file);
// A compound file of one worksheet "S" holding `records`.
std::string OneSheetFile(const std::string& records, const std::string& globals = "");

}  // namespace workbook_test
