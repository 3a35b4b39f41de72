// Record types and fixed values of the BIFF8 workbook stream that the reader
// understands. Every record not listed here is skipped by its length.
#pragma once

#include <cstdint>

namespace platform::workbook::biff {

// Substream structure.
inline constexpr std::uint16_t kBof = 0x0809;
inline constexpr std::uint16_t kEof = 0x000A;
inline constexpr std::uint16_t kContinue = 0x003C;
// BOF record types of BIFF2, BIFF3 and BIFF4 (BIFF5 and BIFF8 share kBof and
// differ in the version field).
inline constexpr std::uint16_t kBofBiff2 = 0x0009;
inline constexpr std::uint16_t kBofBiff3 = 0x0209;
inline constexpr std::uint16_t kBofBiff4 = 0x0409;
inline constexpr std::uint16_t kBiff8Version = 0x0600;

// Workbook globals.
inline constexpr std::uint16_t kFilePass = 0x002F;
inline constexpr std::uint16_t kBoundSheet = 0x0085;
inline constexpr std::uint16_t kSst = 0x00FC;
// CODEPAGE only matters to BIFF5 and older: BIFF8 texts are UTF-16 or
// compressed Latin-1 whatever it says, so the reader does not use it.
inline constexpr std::uint16_t kCodePage = 0x0042;
inline constexpr std::uint16_t kDateMode = 0x0022;

// Sheet types in BOUNDSHEET.
inline constexpr std::uint8_t kSheetWorksheet = 0x00;  // also dialog sheets
inline constexpr std::uint8_t kSheetMacro = 0x01;
inline constexpr std::uint8_t kSheetChart = 0x02;
inline constexpr std::uint8_t kSheetModule = 0x06;

// Cell records (BIFF8; BIFF3 and later give them the same numbers).
inline constexpr std::uint16_t kNumber = 0x0203;
inline constexpr std::uint16_t kRk = 0x027E;
inline constexpr std::uint16_t kMulRk = 0x00BD;
inline constexpr std::uint16_t kBoolErr = 0x0205;
inline constexpr std::uint16_t kFormula = 0x0006;
// FORMULA under its BIFF3 and BIFF4 numbers, which some producers still write
// into BIFF8 sheets; the first 14 bytes are those of kFormula.
inline constexpr std::uint16_t kFormulaBiff3 = 0x0206;
inline constexpr std::uint16_t kFormulaBiff4 = 0x0406;
inline constexpr std::uint16_t kString = 0x0207;
inline constexpr std::uint16_t kSharedFormula = 0x04BC;
inline constexpr std::uint16_t kArray = 0x0221;
inline constexpr std::uint16_t kTableOp = 0x0236;
inline constexpr std::uint16_t kLabelSst = 0x00FD;
inline constexpr std::uint16_t kLabel = 0x0204;
inline constexpr std::uint16_t kRString = 0x00D6;
inline constexpr std::uint16_t kBlank = 0x0201;
inline constexpr std::uint16_t kMulBlank = 0x00BE;
// BIFF2's cell records: three attribute bytes where BIFF8 has an XF index,
// and 8-bit texts in the code page.
inline constexpr std::uint16_t kBlankBiff2 = 0x0001;
inline constexpr std::uint16_t kIntegerBiff2 = 0x0002;
inline constexpr std::uint16_t kNumberBiff2 = 0x0003;
inline constexpr std::uint16_t kLabelBiff2 = 0x0004;
inline constexpr std::uint16_t kBoolErrBiff2 = 0x0005;
// DIMENSIONS is often wrong; the extent comes from the cells themselves.
inline constexpr std::uint16_t kDimensions = 0x0200;

// FORMULA cached result: bytes 6..13 of the record hold a double unless the
// last two of them are kFormulaNonNumber; then byte 6 is one of these.
inline constexpr std::uint16_t kFormulaNonNumber = 0xFFFF;
inline constexpr std::uint8_t kFormulaText = 0;  // text in the following STRING
inline constexpr std::uint8_t kFormulaBoolean = 1;
inline constexpr std::uint8_t kFormulaError = 2;
inline constexpr std::uint8_t kFormulaEmptyText = 3;

// Option flags of a Unicode string header.
inline constexpr std::uint8_t kStringHighByte = 0x01;  // 16-bit characters
inline constexpr std::uint8_t kStringPhonetic = 0x04;  // cbExtRst + phonetic block
inline constexpr std::uint8_t kStringRich = 0x08;      // cRun + formatting runs

// The sheet grid of BIFF8.
inline constexpr int kMaxRows = 65536;
inline constexpr int kMaxColumns = 256;

}  // namespace platform::workbook::biff
