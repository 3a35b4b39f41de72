// Read access to a BIFF8 (.xls) workbook as the spreadsheet application
// shows it: the sheets in tab order and the value of each cell.
//
// The whole file is read at Open: every worksheet's cells are decoded once
// and kept in memory, so SheetCount, SheetName and Cell never touch the file;
// a cell lookup is a binary search among the cells of its sheet. A Workbook
// holds no file handle.
//
// The workbook stream is the compound file's "Workbook", else its "Book",
// the names compared without regard to case; its first BOF decides the
// version, not its name.
//
// Cell records read (BIFF8 numbers; BIFF3 and later share them):
//   NUMBER 0x0203, RK 0x027E, MULRK 0x00BD      Double
//   LABELSST 0x00FD, LABEL 0x0204, RSTRING 0x00D6  Text
//   BOOLERR 0x0205                              Boolean or Error
//   FORMULA 0x0006, also under its BIFF3 and BIFF4 numbers 0x0206 and 0x0406
//     that some producers write into BIFF8 sheets: the cached result (text
//     from the STRING record 0x0207 after it)
//   BLANK 0x0201, MULBLANK 0x00BE, BIFF2's BLANK 0x0001  Empty (no value)
// Refused as damaged: BIFF2's INTEGER 0x0002, NUMBER 0x0003, LABEL 0x0004
// and BOOLERR 0x0005 in a BIFF8 sheet (another layout; texts in a code
// page). Every other record carries no cell and is skipped by its length;
// records inside an embedded chart's BOF/EOF are the chart's, not the sheet's.
//
// Errors (platform::Error; each carries details such as "file" and
// "record offset" for the operator):
//   3100 "Not a workbook file"      not a compound file, or no workbook stream
//                                   (e.g. an .xlsx or a text file renamed .xls)
//   3101 "Workbook version not supported"  the stream is not BIFF8 (Excel 97
//                                   and later); BIFF2 to BIFF5 are refused,
//                                   BIFF2 to BIFF4 also as the bare stream
//                                   they are saved as; detail "BIFF version"
//   3102 "Workbook is encrypted"    a FILEPASS record, of any encryption kind
//                                   (also the default "VelvetSweatshop" one)
//   3103 "Workbook is damaged"      a record, string or cell that does not fit
//                                   in the stream or contradicts itself; also
//                                   sheets whose substreams overlap (two at one
//                                   offset, or one running into the next), so
//                                   that no sheet is ever read twice; also a
//                                   compound file whose structure is damaged
//                                   (an allocation table larger than the
//                                   file, ...); detail "problem" says what
//   3104 "Cell reference out of range"  row outside 1..65536 or column
//                                   outside 1..256
//   9    "Subscript out of range"   a sheet position outside 1..SheetCount()
//   53, 70, ...                     the file itself cannot be read (Open)
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/core/value.h"

namespace platform::workbook {

namespace err {
inline constexpr long kNotAWorkbook = 3100;
inline constexpr long kUnsupportedVersion = 3101;
inline constexpr long kEncrypted = 3102;
inline constexpr long kDamaged = 3103;
inline constexpr long kCellOutOfRange = 3104;
}  // namespace err

class Workbook {
 public:
  static Workbook Open(const std::string& path);
  static Workbook OpenFromMemory(std::string bytes);
  // Loads the compound-file library now; the first Open loads it otherwise
  // (about 7 ms: it is not loaded with the program, which seldom opens a
  // workbook). For a caller that times its opens apart from that. Throws as
  // Open does when the library cannot be loaded.
  static void LoadLibrary();

  Workbook(Workbook&&) noexcept;
  Workbook& operator=(Workbook&&) noexcept;
  ~Workbook();

  // Every sheet counts: worksheets, chart, macro and module sheets, hidden
  // or visible.
  std::int32_t SheetCount() const;
  // `position` is 1-based in tab order. The reference stays valid as long as
  // the Workbook.
  const std::string& SheetName(int position) const;
  // True for a worksheet or macro sheet; false for a chart or module sheet,
  // which has no cells (the spreadsheet application refuses to give a cell
  // of one, where Cell gives Empty). Throws 9 like SheetName.
  bool SheetHoldsCells(int position) const;

  // The value of a cell; `row` and `column` are 1-based.
  //  - Empty: no cell, or a blank (formatted only) cell; any cell of a chart
  //    or module sheet.
  //  - Double: a number, whatever its record (dates are their serial number
  //    in the workbook's date system, see Uses1904DateSystem).
  //  - Text (UTF-8): a text cell, the text result of a formula; a formula
  //    whose result is the empty text gives "" (not Empty).
  //    A text holds every character of the cell, NUL characters included.
  //  - Boolean: a true/false cell or formula result.
  //  - Error: an error cell or formula result, Value::FromError(code) with the
  //    spreadsheet's code (0x07 #DIV/0!, 0x2A #N/A, ...).
  platform::Value Cell(int sheet_position, int row, int column) const;

  // True when the workbook counts dates from 1904-01-01 (DATEMODE).
  bool Uses1904DateSystem() const;

 private:
  struct Contents;
  explicit Workbook(std::unique_ptr<Contents> contents);
  // The workbook of a BIFF stream, taken out of its compound file.
  static Workbook FromStream(std::string_view stream);
  std::unique_ptr<Contents> contents_;
};

}  // namespace platform::workbook
