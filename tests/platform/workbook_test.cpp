// The workbook reader on hand-made BIFF8 streams: the record forms that
// LibreOffice does not write, the pitfalls other readers met, and the files
// it refuses, each with its own error, without reading out of bounds.
#include "platform/workbook/workbook.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/platform/workbook_test_support.h"

namespace {

using namespace workbook_test;

Workbook OpenBytes(const std::string& file) {
  return Workbook::OpenFromMemory(file);
}

TEST(WorkbookCells, EveryRecordKind) {
  const std::string mulrk = Rec(0x00BD, U16(0) + U16(2) + U16(15) + U32((1u << 2) | 2) + U16(15) +
                                            U32((2u << 2) | 2) + U16(3));
  const std::string mulblank = Rec(0x00BE, U16(1) + U16(0) + U16(15) + U16(15) + U16(1));
  // RSTRING: the string, then its formatting runs.
  const std::string rstring =
      Rec(0x00D6, U16(3) + U16(0) + U16(15) + Wide(u"\u20AC\u65E5") + U16(1) + U16(0) + U16(5));
  const std::string records =
      Number(1, 1, -98765.4321) + mulrk + mulblank + Label(3, 1, Compressed("caf\xE9")) + rstring +
      BoolErr(5, 1, 1, false) + BoolErr(5, 2, 0, false, true) + BoolErr(5, 3, 0x07, true, true) +
      Rec(0x0201, U16(5) + U16(3) + U16(15)) +  // BLANK
      Formula(6, 1, F64(2.5)) + Formula(6, 2, FormulaNonNumber(1, 1)) +
      Formula(6, 3, FormulaNonNumber(2, 0x2A)) + Formula(6, 4, FormulaNonNumber(3, 0)) +
      Formula(7, 1, FormulaNonNumber(0, 0)) + Rec(0x0207, Compressed("result")) +
      // FORMULA under its BIFF4 and BIFF3 numbers, as some producers write it
      // into BIFF8 sheets.
      Formula(9, 1, F64(3.25), 0x0406) + Formula(9, 2, FormulaNonNumber(1, 0), 0x0406) +
      Formula(9, 3, FormulaNonNumber(2, 0x07), 0x0406) +
      Formula(9, 4, FormulaNonNumber(3, 0), 0x0406) +
      Formula(9, 5, FormulaNonNumber(0, 0), 0x0406) + Rec(0x0207, Compressed("old")) +
      Formula(9, 6, F64(-4), 0x0206);
  // RK numbers: integer or upper bits of a double, either of them x100.
  const std::pair<std::uint32_t, double> rks[] = {
      {(5u << 2) | 2, 5},    {static_cast<std::uint32_t>(-7 * 4) | 2, -7},
      {(50u << 2) | 3, 0.5}, {static_cast<std::uint32_t>(-1234 * 4) | 3, -12.34},
      {0x3FF00000u, 1.0},    {0x3FF00000u | 1, 0.01},
      {0xC0040000u, -2.5}};
  std::string rk_records;
  for (int i = 0; i < int(std::size(rks)); ++i) rk_records += Rk(8, i + 1, rks[i].first);
  const Workbook book = OpenBytes(OneSheetFile(records + rk_records));
  for (int i = 0; i < int(std::size(rks)); ++i) {
    EXPECT_TRUE(book.Cell(1, 8, i + 1).SameAs(rks[i].second)) << RowOf(book, 1, 8, i + 1, i + 1);
  }
  EXPECT_EQ(RowOf(book, 1, 1, 4), "-98765.4321|Empty|1|2");
  EXPECT_EQ(RowOf(book, 1, 2, 1) + RowOf(book, 1, 3, 1) + RowOf(book, 1, 4, 1),
            "Empty\"caf\xC3\xA9\"\"\xE2\x82\xAC\xE6\x97\xA5\"");
  EXPECT_EQ(RowOf(book, 1, 5, 4), "True|False|Error 2007|Empty");
  EXPECT_EQ(RowOf(book, 1, 6, 4), "2.5|True|Error 2042|\"\"");
  EXPECT_EQ(RowOf(book, 1, 7, 1), "\"result\"");
  EXPECT_EQ(RowOf(book, 1, 9, 6), "3.25|False|Error 2007|\"\"|\"old\"|-4");
  EXPECT_TRUE(book.Cell(1, 65536, 256).IsEmpty());
}

TEST(WorkbookCells, OddFormsOfRecordsAndSubstreams) {
  // A STRING after SHRFMLA, ARRAY and TABLE records; the last one continued
  // with a fresh flag byte switching to 16-bit characters.
  const std::string formulas =
      TextFormula(1, 1) + Rec(0x04BC, std::string(10, '\0')) + Rec(0x0207, Compressed("shared")) +
      TextFormula(1, 2) + Rec(0x0221, std::string(14, '\0')) + Rec(0x0207, Compressed("array")) +
      TextFormula(1, 3) + Rec(0x0236, std::string(16, '\0')) + Rec(0x0207, U16(4) + '\0' + "ab") +
      Continue(std::string("\x01") + U16(0x3042) + U16('z'));
  // A LABEL longer than 8,224 bytes, and cells outside the DIMENSIONS.
  const std::string text(10000, 'x');
  const std::string dimensions = Rec(0x0200, U32(0) + U32(1) + U16(0) + U16(1) + U16(0));
  // An embedded chart's own records (a NUMBER and a nested BOF) are not the
  // sheet's.
  const std::string chart = Bof(0x20) + Number(3, 1, 99) + Bof(0x20) + Eof() + Eof();
  const Workbook book =
      OpenBytes(OneSheetFile(dimensions + formulas + Label(2, 1, Compressed(text)) + chart +
                             Number(3, 2, 2) + Number(900, 200, 1)));
  EXPECT_EQ(RowOf(book, 1, 1, 3), "\"shared\"|\"array\"|\"ab\xE3\x81\x82z\"");
  EXPECT_EQ(book.Cell(1, 2, 1).ToText(), text);
  EXPECT_EQ(RowOf(book, 1, 3, 2), "Empty|2");
  EXPECT_EQ(RowOf(book, 1, 900, 200, 200), "1");
}

TEST(WorkbookSheets, EverySheetKindCountsInTabOrder) {
  const Workbook book = OpenBytes(CompoundFile(Stream({
      {"Cover", 0, 0, Number(1, 1, 1)},
      {"Chart1", 2, 0, ""},
      {"Macro1", 1, 0, Number(1, 1, 3)},
      {"Module1", 6, 2, ""},  // very hidden VB module: no substream
      {"Hidden", 0, 1, Number(1, 1, 5)},
  })));
  std::string sheets;
  for (int i = 1; i <= book.SheetCount(); ++i) {
    sheets += book.SheetName(i) + (book.SheetHoldsCells(i) ? " cells " : " none ") +
              RowOf(book, i, 1, 1) + "; ";
  }
  EXPECT_EQ(sheets,
            "Cover cells 1; Chart1 none Empty; Macro1 cells 3; Module1 none Empty; "
            "Hidden cells 5; ");
}

// Directory names compare without regard to case. Next to a BIFF8
// "Workbook" an older producer may leave its BIFF5 "Book": the BIFF8 one is
// read, wherever it stands in the directory.
TEST(WorkbookSheets, StreamNamesAndDateMode) {
  const std::string stream =
      Stream({{"S", 0, 0, Number(1, 1, 7)}}, Rec(0x0042, U16(1252)) + Rec(0x0022, U16(1)));
  const std::string biff5 = Bof(5, 0x0500) + Eof();
  const std::vector<std::pair<std::string, std::string>> files[] = {
      {{"Workbook", stream}},
      {{"WORKBOOK", stream}},
      {{"Book", stream}},
      {{"BOOK", stream}},
      {{"workbook", stream}},
      {{"WorkBook", stream}},
      {{"book", stream}},
      {{"Book", biff5}, {"WorkBook", stream}},
      {{"WorkBook", stream}, {"Book", biff5}},
      {{"BOOK", biff5}, {"workbook", stream}}};
  for (const auto& streams : files) {
    const std::string file = CompoundFile(streams);
    ASSERT_EQ(Outcome(file), "opens") << streams.front().first << " of " << streams.size();
    const Workbook book = OpenBytes(file);
    EXPECT_TRUE(book.Cell(1, 1, 1).SameAs(7.0));
    EXPECT_TRUE(book.Uses1904DateSystem());
  }
  EXPECT_FALSE(OpenBytes(OneSheetFile("")).Uses1904DateSystem());
}

TEST(WorkbookSst, StringsAcrossContinueRecordsAndWrongCounts) {
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
  for (int i = 0; i < 6; ++i) cells += LabelSst(1, i + 1, i);
  EXPECT_EQ(RowOf(OpenBytes(OneSheetFile(cells, sst)), 1, 1, 6),
            "\"\xC3\xA9\xE2\x82\xAC\"|\"abcde\"|\"xyz\"|\"after\"|\"\"|\"last\"");

  const std::string strings = Compressed("one") + Compressed("two") + Compressed("three");
  for (std::uint32_t declared : {0u, 1u, 1000000u}) {
    const Workbook book =
        OpenBytes(OneSheetFile(LabelSst(1, 1, 2) + LabelSst(1, 2, 0), Sst(declared, strings)));
    EXPECT_EQ(RowOf(book, 1, 1, 2), "\"three\"|\"one\"") << declared;
  }
}

// Lengths, offsets and indexes past their bounds are among the hostile cases,
// poked into real files.
TEST(WorkbookFailure, EachFileFailsWithItsNumber) {
  const std::string good_sheet = Number(1, 1, 1);
  const std::string empty_sheet = Stream({{"S", 0, 0, ""}});
  const std::string zip = std::string("PK\x03\x04\x14\x00\x00\x00", 8) + std::string(600, 'z');
  const auto mulrk = [](int first, int last, int cells = 2) {
    std::string rks;
    for (int i = 0; i < cells; ++i) rks += U16(15) + U32(2);
    return Rec(0x00BD, U16(0) + U16(first) + rks + U16(last));
  };
  const std::string not_a_workbook = std::to_string(werr::kNotAWorkbook) + " ",
                    unsupported = std::to_string(werr::kUnsupportedVersion) + " ",
                    encrypted = std::to_string(werr::kEncrypted) + " ",
                    damaged = std::to_string(werr::kDamaged) + " ";
  const struct {
    const char* name;
    std::string file;
    std::string outcome;
  } cases[] = {
      {"text_file", "TestNumber,TestName\n1,GLU\n", not_a_workbook + "not a compound file"},
      {"xlsx_renamed", zip, not_a_workbook + "not a compound file"},
      {"empty_file", "", not_a_workbook + "not a compound file"},
      {"no_workbook_stream", CompoundFile(Stream({}), "Sheet1"),
       not_a_workbook + "no workbook stream"},
      {"empty_stream", CompoundFile(""), not_a_workbook + "empty workbook stream"},
      {"biff5_in_book", CompoundFile(Bof(5, 0x0500) + Eof(), "Book"), unsupported + "BIFF5"},
      {"biff7_in_book", CompoundFile(Bof(5, 0x0700) + Eof(), "Book"), unsupported + "0x0700"},
      {"biff4", CompoundFile(Rec(0x0409, U16(0) + U16(0x10)) + Eof()), unsupported + "BIFF4"},
      // BIFF2 to BIFF4 files are bare streams, no compound files.
      {"bare_biff2", Rec(0x0009, U16(2) + U16(0x10)) + Eof(), unsupported + "BIFF2"},
      {"bare_biff3", Rec(0x0209, U16(0) + U16(0x10) + U16(0)) + Eof(), unsupported + "BIFF3"},
      {"bare_biff4", Rec(0x0409, U16(0) + U16(0x10) + U16(0)) + Number(1, 1, 1) + Eof(),
       unsupported + "BIFF4"},
      {"bare_biff4_bof_cut", Rec(0x0409, U16(0) + U16(0x10) + U16(0)).substr(0, 8),
       not_a_workbook + "not a compound file"},
      {"filepass_xor", OneSheetFile(good_sheet, Rec(0x002F, U16(0) + U16(0x1234) + U16(0x5678))),
       encrypted},
      {"filepass_rc4", OneSheetFile(good_sheet, Rec(0x002F, U16(1) + std::string(52, '\0'))),
       encrypted},
      {"no_bof", CompoundFile(Number(1, 1, 1) + Eof()),
       damaged + "substream does not start with BOF"},
      {"mulrk_columns_too_many", OneSheetFile(mulrk(250, 251) + mulrk(255, 256)),
       damaged + "cell column outside the sheet"},
      {"mulrk_range_mismatch", OneSheetFile(mulrk(0, 40, 1)),
       damaged + "MULRK column range does not match its cells"},
      {"mulrk_reversed", OneSheetFile(mulrk(5, 4, 1)),
       damaged + "MULRK column range does not match its cells"},
      {"phonetic_past_end", OneSheetFile("", Sst(1, U16(1) + '\x04' + U32(100000) + "a")),
       damaged + "string data cut off"},
      {"text_formula_without_string", OneSheetFile(TextFormula(1, 1) + Number(2, 1, 1)),
       damaged + "text FORMULA without its STRING record"},
      {"short_number", OneSheetFile(Rec(0x0203, U16(0) + U16(0))),
       damaged + "cell record too short"},
      {"short_biff4_formula",
       OneSheetFile(Rec(0x0406, U16(0) + U16(0) + U16(15) + F64(1).substr(0, 6))),
       damaged + "cell record too short"},
      // BIFF2's cell records have no XF index but three attribute bytes, and
      // its texts a code page: they do not belong in a BIFF8 sheet.
      {"biff2_integer", OneSheetFile(Rec(0x0002, U16(0) + U16(0) + std::string(3, '\0') + U16(5))),
       damaged + "BIFF2 cell record in a BIFF8 sheet"},
      {"biff2_number", OneSheetFile(Rec(0x0003, U16(0) + U16(0) + std::string(3, '\0') + F64(5))),
       damaged + "BIFF2 cell record in a BIFF8 sheet"},
      {"biff2_label", OneSheetFile(Rec(0x0004, U16(0) + U16(0) + std::string(3, '\0') + "\x01x")),
       damaged + "BIFF2 cell record in a BIFF8 sheet"},
      {"biff2_boolerr",
       OneSheetFile(Rec(0x0005, U16(0) + U16(0) + std::string(3, '\0') + '\x01' + '\0')),
       damaged + "BIFF2 cell record in a BIFF8 sheet"},
      {"column_outside_sheet", OneSheetFile(Number(1, 300, 1)),
       damaged + "cell column outside the sheet"},
      {"sheet_without_eof", CompoundFile(empty_sheet.substr(0, empty_sheet.size() - 4)),
       damaged + "sheet without EOF"},
  };
  for (const auto& c : cases) EXPECT_EQ(Outcome(c.file), c.outcome) << c.name;
}

platform::Error ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    return e;
  }
  return platform::Error(0, "no error");
}

TEST(WorkbookFailure, ErrorsCarryDescriptionsDetailsAndNumbersOfPositions) {
  const platform::Error damaged = ErrorOf([] { OpenBytes(OneSheetFile(Number(1, 300, 1))); });
  EXPECT_EQ(damaged.description(), "Workbook is damaged");
  ASSERT_GE(damaged.details().size(), 3u);
  EXPECT_EQ(damaged.details()[0].first, "record offset");
  EXPECT_EQ(damaged.details().back(), platform::Error::Detail("sheet", "1 S"));

  testing_support::TempDir dir;
  const std::string path = dir.Sub("crypt.xls");
  testing_support::WriteFile(path, OneSheetFile("", Rec(0x002F, U16(1) + std::string(52, '\0'))));
  const platform::Error encrypted = ErrorOf([&] { Workbook::Open(path); });
  EXPECT_EQ(encrypted.number(), werr::kEncrypted);
  EXPECT_EQ(encrypted.description(), "Workbook is encrypted");
  EXPECT_EQ(encrypted.details().back(), platform::Error::Detail("file", path));
  EXPECT_EQ(ErrorOf([&] { Workbook::Open(dir.Sub("none.xls")); }).number(),
            platform::err::kFileNotFound);
  EXPECT_EQ(ErrorOf([&] { Workbook::Open(dir.path()); }).number(), platform::err::kDeviceIoError);

  const Workbook book = OpenBytes(OneSheetFile(Number(1, 1, 1)));
  const std::function<void()> calls[] = {
      [&] { book.SheetName(0); },       [&] { book.Cell(2, 1, 1); },
      [&] { book.SheetHoldsCells(2); }, [&] { book.Cell(1, 0, 1); },
      [&] { book.Cell(1, 65537, 1); },  [&] { book.Cell(1, 1, 257); }};
  std::string numbers;
  for (const auto& call : calls) numbers += std::to_string(ErrorOf(call).number()) + " ";
  const std::string subscript = std::to_string(platform::err::kSubscriptOutOfRange) + " ",
                    cell = std::to_string(werr::kCellOutOfRange) + " ";
  EXPECT_EQ(numbers, subscript + subscript + subscript + cell + cell + cell);
}

// Every prefix of a stream holding each kind of record, and every single
// byte flipped in it, either opens or fails with a platform::Error.
TEST(WorkbookFailure, CutAndFlippedStreamsNeverCrash) {
  const std::string sst = Rec(0x00FC, U32(2) + U32(2) + U16(3) + '\x0C' + U16(1) + U32(2)) +
                          Continue("\x01" + U16('a') + U16('b') + U16('c') + U32(0) + "pp") +
                          Continue(Compressed("x"));
  const std::string cells =
      LabelSst(1, 1, 1) + Rk(1, 2, 6) +
      Rec(0x00BD, U16(1) + U16(0) + U16(15) + U32(2) + U16(15) + U32(6) + U16(1)) +
      TextFormula(3, 1) + Rec(0x0207, Compressed("s")) + BoolErr(4, 1, 1, false) + Bof(0x20) +
      Eof() + Rec(0x00D6, U16(0) + U16(5) + U16(0) + Wide(u"w") + U16(0));
  const std::string stream = Stream({{"C", 2, 0, ""}, {"S", 0, 0, cells}}, sst);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    const std::string outcome = Outcome(CompoundFile(stream.substr(0, cut)));
    EXPECT_TRUE(cut == stream.size() ? outcome == "opens" : outcome != "opens") << "cut " << cut;
  }
  for (std::size_t i = 0; i < stream.size(); ++i) {
    std::string flipped = stream;
    flipped[i] = static_cast<char>(flipped[i] ^ 0xA5);
    Outcome(CompoundFile(flipped));
  }
}

}  // namespace
