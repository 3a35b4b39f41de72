// The workbook reader on hand-made BIFF8 streams: the record forms that
// LibreOffice does not write, and the pitfalls other readers met.
#include "platform/workbook/workbook.h"

#include <gtest/gtest.h>

#include "platform/core/error.h"
#include "tests/platform/workbook_biff_writer.h"

namespace {

using namespace workbook_test;
using platform::Value;
using platform::workbook::Workbook;

Workbook OpenBytes(const std::string& file) {
  return Workbook::OpenFromMemory(file);
}

void ExpectCell(const Workbook& book, int row, int column, const Value& want) {
  const Value got = book.Cell(1, row, column);
  EXPECT_TRUE(got.SameAs(want)) << "R" << row << "C" << column << ": " << got.Describe()
                                << " instead of " << want.Describe();
}

// An SST of the given strings (already encoded), in one record.
std::string Sst(std::uint32_t declared_count, const std::string& strings) {
  return Rec(0x00FC, U32(declared_count) + U32(declared_count) + strings);
}
std::string Continue(const std::string& payload) {
  return Rec(0x003C, payload);
}

TEST(WorkbookRk, FlagsSignAndScale) {
  struct Case {
    std::uint32_t rk;
    double want;
  } cases[] = {
      {(5u << 2) | 2, 5},                                   // integer
      {static_cast<std::uint32_t>(-7 * 4) | 2, -7},         // negative integer
      {(50u << 2) | 3, 0.5},                                // integer x100
      {static_cast<std::uint32_t>(-1234 * 4) | 3, -12.34},  // negative x100
      {0x3FF00000u, 1.0},                                   // upper bits of 1.0
      {0x3FF00000u | 1, 0.01},                              // 1.0 / 100
      {0xC0040000u, -2.5},                                  // upper bits of -2.5
  };
  std::string records;
  for (int i = 0; i < int(std::size(cases)); ++i) records += Rk(i + 1, 1, cases[i].rk);
  const Workbook book = OpenBytes(OneSheetFile(records));
  for (int i = 0; i < int(std::size(cases)); ++i) ExpectCell(book, i + 1, 1, cases[i].want);
}

TEST(WorkbookCells, EveryRecordKind) {
  const std::string mulrk = Rec(0x00BD, U16(0) + U16(2) + U16(15) + U32((1u << 2) | 2) + U16(15) +
                                            U32((2u << 2) | 2) + U16(3));
  const std::string mulblank = Rec(0x00BE, U16(1) + U16(0) + U16(15) + U16(15) + U16(1));
  const std::string label = Rec(0x0204, U16(2) + U16(0) + U16(15) + Compressed("caf\xE9"));
  // RSTRING: the string, then its formatting runs.
  const std::string rstring =
      Rec(0x00D6, U16(3) + U16(0) + U16(15) + Wide(u"\u20AC\u65E5") + U16(1) + U16(0) + U16(5));
  const std::string records =
      Number(1, 1, -98765.4321) + mulrk + mulblank + label + rstring + BoolErr(5, 1, 1, false) +
      BoolErr(5, 2, 0, false, true) + BoolErr(5, 3, 0x07, true, true) +
      Rec(0x0201, U16(5) + U16(3) + U16(15)) +  // BLANK
      Formula(6, 1, F64(2.5)) + Formula(6, 2, FormulaNonNumber(1, 1)) +
      Formula(6, 3, FormulaNonNumber(2, 0x2A)) + Formula(6, 4, FormulaNonNumber(3, 0)) +
      Formula(7, 1, FormulaNonNumber(0, 0)) + Rec(0x0207, Compressed("result"));
  const Workbook book = OpenBytes(OneSheetFile(records));
  ExpectCell(book, 1, 1, -98765.4321);
  ExpectCell(book, 1, 3, 1.0);
  ExpectCell(book, 1, 4, 2.0);
  ExpectCell(book, 2, 1, Value());
  ExpectCell(book, 3, 1, "caf\xC3\xA9");
  ExpectCell(book, 4, 1, "\xE2\x82\xAC\xE6\x97\xA5");
  ExpectCell(book, 5, 1, true);
  ExpectCell(book, 5, 2, false);
  ExpectCell(book, 5, 3, Value::FromError(0x07));
  ExpectCell(book, 5, 4, Value());
  ExpectCell(book, 6, 1, 2.5);
  ExpectCell(book, 6, 2, true);
  ExpectCell(book, 6, 3, Value::FromError(0x2A));
  ExpectCell(book, 6, 4, "");
  ExpectCell(book, 7, 1, "result");
  ExpectCell(book, 65536, 256, Value());
}

TEST(WorkbookCells, FormulaStringAfterSharedArrayAndTableFormulas) {
  const std::string records =
      Formula(1, 1, FormulaNonNumber(0, 0)) + Rec(0x04BC, std::string(10, '\0')) +
      Rec(0x0207, Compressed("shared")) + Formula(2, 1, FormulaNonNumber(0, 0)) +
      Rec(0x0221, std::string(14, '\0')) + Rec(0x0207, Compressed("array")) +
      Formula(3, 1, FormulaNonNumber(0, 0)) + Rec(0x0236, std::string(16, '\0')) +
      // A STRING continued with a fresh flag byte switching to 16-bit characters.
      Rec(0x0207, U16(4) + '\0' + "ab") + Continue(std::string("\x01") + U16(0x3042) + U16('z'));
  const Workbook book = OpenBytes(OneSheetFile(records));
  ExpectCell(book, 1, 1, "shared");
  ExpectCell(book, 2, 1, "array");
  ExpectCell(book, 3, 1, "ab\xE3\x81\x82z");
}

TEST(WorkbookCells, LongRecordsAndWrongDimensionsAreAccepted) {
  const std::string text(10000, 'x');  // a LABEL longer than 8,224 bytes
  const std::string dimensions = Rec(0x0200, U32(0) + U32(1) + U16(0) + U16(1) + U16(0));
  const std::string records =
      dimensions + Rec(0x0204, U16(0) + U16(0) + U16(15) + Compressed(text)) + Number(900, 200, 1);
  const Workbook book = OpenBytes(OneSheetFile(records));
  ExpectCell(book, 1, 1, text);
  ExpectCell(book, 900, 200, 1.0);
}

TEST(WorkbookCells, EmbeddedChartSubstreamIsSkippedWhole) {
  // The chart's own records (a NUMBER and a nested BOF) are not the sheet's.
  const std::string chart = Bof(0x20) + Number(1, 1, 99) + Bof(0x20) + Eof() + Eof();
  const Workbook book = OpenBytes(OneSheetFile(Number(2, 2, 1) + chart + Number(3, 3, 2)));
  ExpectCell(book, 1, 1, Value());
  ExpectCell(book, 2, 2, 1.0);
  ExpectCell(book, 3, 3, 2.0);
}

TEST(WorkbookSheets, EverySheetKindCountsInTabOrder) {
  const Workbook book = OpenBytes(CompoundFile(Stream({
      {"Cover", 0, 0, Number(1, 1, 1)},
      {"Chart1", 2, 0, ""},
      {"Macro1", 1, 0, Number(1, 1, 3)},
      {"Module1", 6, 2, ""},  // very hidden VB module: no substream
      {"Hidden", 0, 1, Number(1, 1, 5)},
  })));
  ASSERT_EQ(book.SheetCount(), 5);
  const char* names[] = {"Cover", "Chart1", "Macro1", "Module1", "Hidden"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(book.SheetName(i + 1), names[i]);
  EXPECT_TRUE(book.Cell(1, 1, 1).SameAs(1.0));
  EXPECT_TRUE(book.Cell(2, 1, 1).IsEmpty());
  EXPECT_TRUE(book.Cell(3, 1, 1).SameAs(3.0));
  EXPECT_TRUE(book.Cell(4, 1, 1).IsEmpty());
  EXPECT_TRUE(book.Cell(5, 1, 1).SameAs(5.0));
  const bool holds_cells[] = {true, false, true, false, true};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(book.SheetHoldsCells(i + 1), holds_cells[i]) << names[i];
}

TEST(WorkbookSheets, StreamNamesAndDateMode) {
  for (const char* name : {"Workbook", "WORKBOOK", "Book", "BOOK"}) {
    const std::string stream =
        Stream({{"S", 0, 0, Number(1, 1, 7)}}, Rec(0x0042, U16(1252)) + Rec(0x0022, U16(1)));
    const Workbook book = OpenBytes(CompoundFile(stream, name));
    EXPECT_TRUE(book.Cell(1, 1, 1).SameAs(7.0)) << name;
    EXPECT_TRUE(book.Uses1904DateSystem());
  }
  EXPECT_FALSE(OpenBytes(OneSheetFile("")).Uses1904DateSystem());
}

TEST(WorkbookSst, StringsAcrossContinueRecords) {
  const std::string sst =
      // 0: header, then CONTINUE starting with a flag byte switching to 16-bit.
      Rec(0x00FC, U32(9) + U32(9) + U16(2) + '\0') +
      Continue(std::string("\x01") + U16(0x00E9) + U16(0x20AC) +
               // 1: characters cut inside, the continuation switching back to 8-bit.
               U16(5) + '\x01' + U16('a') + U16('b')) +
      Continue(std::string("\x00", 1) + "cde" +
               // 2: rich text (2 runs) and a phonetic block of 70,000 bytes that
               // spans three further records.
               U16(3) + '\x0C' + U16(2) + U32(70000) + "xyz" + std::string(8, 'r') +
               std::string(1000, 'p')) +
      Continue(std::string(8000, 'p')) + Continue(std::string(60000, 'p')) +
      Continue(std::string(1000, 'p') + Compressed("after") +
               // 4: an empty string ending exactly at the end of a record.
               U16(0) + '\0') +
      Continue(Compressed("last"));
  std::string cells;
  for (int i = 0; i < 6; ++i) cells += LabelSst(i + 1, 1, i);
  const Workbook book = OpenBytes(OneSheetFile(cells, sst));
  ExpectCell(book, 1, 1, "\xC3\xA9\xE2\x82\xAC");
  ExpectCell(book, 2, 1, "abcde");
  ExpectCell(book, 3, 1, "xyz");
  ExpectCell(book, 4, 1, "after");
  ExpectCell(book, 5, 1, "");
  ExpectCell(book, 6, 1, "last");
}

TEST(WorkbookSst, WrongUniqueCountReadsWhatIsThere) {
  const std::string strings = Compressed("one") + Compressed("two") + Compressed("three");
  for (std::uint32_t declared : {0u, 1u, 1000000u}) {
    const Workbook book =
        OpenBytes(OneSheetFile(LabelSst(1, 1, 2) + LabelSst(2, 1, 0), Sst(declared, strings)));
    ExpectCell(book, 1, 1, "three");
    ExpectCell(book, 2, 1, "one");
  }
}

}  // namespace
