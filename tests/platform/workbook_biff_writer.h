// A tiny BIFF8 writer for the workbook reader's tests: records by hand, the
// sheet offsets filled in, the stream wrapped in a compound file by libgsf.
// It writes exactly what a test asks for, malformed records included.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace workbook_test {

std::string U16(std::uint16_t v);
std::string U32(std::uint32_t v);
std::string F64(double v);

// One record: type, length, payload (the length is cut to 16 bits, so a
// test can also write a record whose length lies).
std::string Rec(std::uint16_t type, const std::string& payload);
std::string Bof(std::uint16_t substream_type, std::uint16_t version = 0x0600);
std::string Eof();

// An XLUnicodeString of 8-bit characters: count (1 or 2 bytes), flags 0.
std::string Compressed(const std::string& latin1, int count_bytes = 2);
// The same with 16-bit characters (flag 1), from UTF-16 code units.
std::string Wide(const std::u16string& units, int count_bytes = 2);

// Cell records (1-based row and column, as the reader's API counts).
std::string Number(int row, int column, double v);
std::string Rk(int row, int column, std::uint32_t rk);
std::string LabelSst(int row, int column, std::uint32_t index);
std::string BoolErr(int row, int column, std::uint8_t v, bool is_error, bool nine_bytes = false);
// A FORMULA record whose cached result is the given 8 bytes; `type` may be
// the number an older BIFF version gave the record (0x0206, 0x0406).
std::string Formula(int row, int column, const std::string& result8, std::uint16_t type = 0x0006);
std::string FormulaNonNumber(std::uint8_t kind, std::uint8_t v);

struct Sheet {
  std::string name;
  std::uint8_t type = 0;  // 0 worksheet, 1 macro, 2 chart, 6 module
  std::uint8_t hidden = 0;
  std::string records;  // between the sheet's BOF and EOF
};

// Globals BOF, `globals` records, one BOUNDSHEET per sheet, EOF, then each
// sheet's substream (module sheets get none).
std::string Stream(const std::vector<Sheet>& sheets, const std::string& globals = "");

// The stream as the one stream `stream_name` of a compound file.
std::string CompoundFile(const std::string& stream, const std::string& stream_name = "Workbook");
// A compound file of several streams (name, bytes), written in this order.
std::string CompoundFile(const std::vector<std::pair<std::string, std::string>>& streams);

// The workbook stream of a compound file (empty when it has none), so that a
// test can poke bytes of a real file and wrap them again.
std::string WorkbookStreamOf(const std::string& compound_file);

// `stream` with every record of type `from` given the type `to`.
std::string Retyped(std::string stream, std::uint16_t from, std::uint16_t to);

// Shorthand: a compound file of one worksheet "S" holding `records`.
std::string OneSheetFile(const std::string& records, const std::string& globals = "");

}  // namespace workbook_test
