// The workbook reader: real files' cells as xlrd recorded them; hand-made record forms; hostile
// files (made, or poked into real ones), each opening or failing with its exact error.
#include "platform/workbook/workbook.h"

#include <gsf/gsf.h>
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <set>

#include "tests/platform/workbook_biff_writer.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"

namespace workbook_test {
namespace {

using namespace std::string_literals;
using namespace testing_support;
using platform::Value;
using platform::workbook::Workbook;

constexpr std::uint16_t kBof = 0x0809, kContinue = 0x003C, kSst = 0x00FC, kLabelSst = 0x00FD,
                        kBoundSheet = 0x0085;

const auto Wide = [](const std::u16string& units) {
  std::string s = U16(units.size()) + '\x01';
  for (char16_t u : units) s += U16(u);
  return s;
};
const auto Rk = [](int r, int c, std::uint32_t rk) { return Cell(0x027E, r, c, U32(rk)); };
const auto LabelSst = [](int r, int c, std::uint32_t i) { return Cell(kLabelSst, r, c, U32(i)); };
const auto Label = [](int r, int c, const std::string& text) { return Cell(0x0204, r, c, text); };
const auto BoolErr = [](int r, int c, std::uint8_t v, bool is_error, bool nine = false) {
  return Cell(0x0205, r, c, std::string{char(v), char(is_error)} + (nine ? "\0"s : ""));
};
// A FORMULA record (`type` may be an older version's 0x0206, 0x0406) of one token, ptgInt 1.
const auto Formula = [](int r, int c, const std::string& result8, std::uint16_t type = 6) {
  return Cell(type, r, c, result8 + U16(0) + U32(0) + U16(3) + "\x1E\x01\x00");
};
// A cached result that is no number: text (0), boolean (1), error (2), empty text (3).
const auto FormulaNonNumber = [](std::uint8_t kind, std::uint8_t v) {
  return std::string{char(kind), 0, char(v), 0, 0, 0} + "\xFF\xFF";
};
// A formula whose text result the STRING record after it holds.
const auto TextFormula = [](int r, int c) { return Formula(r, c, FormulaNonNumber(0, 0)); };
const auto String = [](const std::string& latin1) { return Rec(0x0207, Compressed(latin1)); };
const auto Continue = [](const std::string& payload) { return Rec(kContinue, payload); };
const auto Sst = [](std::uint32_t count, const std::string& strings) {
  return Rec(kSst, U32(count) + U32(count) + strings);
};
const auto OneSheetFile = [](const std::string& records, const std::string& globals = "") {
  return CompoundFile(Stream({Sheet{"S", 0, 0, records}}, globals));
};
const auto Open = [](const std::string& file) { return Workbook::OpenFromMemory(file); };
const auto Fixture = [](const std::string& name) {
  return ReadFile(SourceDir() + "/tests/fixtures/workbook/" + name);
};

// The "Workbook" stream of a real file, to poke.
std::string WorkbookStreamOf(const std::string& compound_file) {
  gsf_init();
  GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(compound_file.data()),
                                         static_cast<gsf_off_t>(compound_file.size()), FALSE);
  GsfInfile* ole = gsf_infile_msole_new(input, nullptr);
  GsfInput* child = gsf_infile_child_by_name(ole, "Workbook");
  std::string stream(static_cast<std::size_t>(gsf_input_size(child)), '\0');
  gsf_input_read(child, stream.size(), reinterpret_cast<guint8*>(stream.data()));
  g_object_unref(child);
  g_object_unref(ole);
  g_object_unref(input);
  return stream;
}

// Cells `first` to `last` of a row by Describe, "|" between; a number not Double shows its kind.
std::string RowOf(const Workbook& book, int sheet, int row, int last, int first = 1) {
  std::string text;
  for (int c = first; c <= last; ++c) {
    const Value v = book.Cell(sheet, row, c);
    const bool plain = !v.IsNumeric() || v.kind() == platform::ValueKind::kDouble;
    text += (c > first ? "|" : "") + (plain ? "" : std::string(KindName(v.kind())) + " ") +
            v.Describe();
  }
  return text;
}

// "<number> <problem or BIFF version detail>" of the failure to open `file`, or "opens".
std::string Outcome(const std::string& file) {
  const platform::Error e = ErrorOf([&] { Open(file); });
  if (e.number() == 0) return "opens";
  const std::string problem = DetailOf(e, "problem");
  return std::to_string(e.number()) + " " +
         (problem.empty() ? DetailOf(e, "BIFF version") : problem);
}

TEST(WorkbookFixtures, EveryCellAsXlrdRecordedIt) {
  const auto expected = [](const nlohmann::json& cell) {
    const std::string kind = cell[2];
    const nlohmann::json& v = cell[3];
    if (kind == "number" || kind == "date") return Value(v.get<double>());
    if (kind == "text") return Value(v.get<std::string>());
    if (kind == "boolean") return Value(v.get<bool>());
    return kind == "error" ? Value::FromError(v.get<int>()) : Value();  // blank
  };
  for (const std::string name : {"values.xls", "sheets.xls", "big_sst.xls"}) {
    const nlohmann::json record = nlohmann::json::parse(Fixture(name + ".json"));
    const Workbook book = Open(Fixture(name));
    ASSERT_EQ(book.SheetCount(), record["sheet_count"].get<int>()) << name;
    for (const auto& sheet : record["sheets"]) {
      const int position = sheet["position"];
      EXPECT_EQ(book.SheetName(position), sheet["name"].get<std::string>());
      std::set<std::pair<int, int>> listed;
      for (const auto& cell : sheet["cells"]) {
        const int row = cell[0], column = cell[1];
        listed.insert({row, column});
        const Value got = book.Cell(position, row, column);
        EXPECT_TRUE(got.SameAs(expected(cell)))
            << name << " sheet " << position << " R" << row << "C" << column << ": got "
            << got.Describe() << ", xlrd " << cell.dump();
      }
      // The rest of xlrd's extent, and one row and column beyond, is empty.
      for (int r = 1; r <= sheet["rows"].get<int>() + 1; ++r) {
        for (int c = 1; c <= sheet["columns"].get<int>() + 1; ++c) {
          EXPECT_TRUE(listed.count({r, c}) || book.Cell(position, r, c).IsEmpty())
              << name << " R" << r << "C" << c;
        }
      }
    }
  }
}

TEST(WorkbookCells, EveryRecordKindAndOddForm) {
  const std::string mulrk = Rec(0x00BD, U16(0) + U16(2) + U16(15) + U32((1u << 2) | 2) + U16(15) +
                                            U32((2u << 2) | 2) + U16(3));
  const std::string mulblank = Rec(0x00BE, U16(1) + U16(0) + U16(15) + U16(15) + U16(1));
  // RSTRING: the string, then its formatting runs
  const std::string rstring = Cell(0x00D6, 4, 1, Wide(u"\u20AC\u65E5") + U16(1) + U16(0) + U16(5));
  const std::string records =
      Number(1, 1, -98765.4321) + mulrk + mulblank + Label(3, 1, Compressed("caf\xE9")) + rstring +
      BoolErr(5, 1, 1, false) + BoolErr(5, 2, 0, false, true) + BoolErr(5, 3, 0x07, true, true) +
      Cell(0x0201, 5, 4, "") +  // BLANK
      Formula(6, 1, F64(2.5)) + Formula(6, 2, FormulaNonNumber(1, 1)) +
      Formula(6, 3, FormulaNonNumber(2, 0x2A)) + Formula(6, 4, FormulaNonNumber(3, 0)) +
      TextFormula(7, 1) + String("result") +
      // FORMULA under its BIFF4 and BIFF3 numbers, as some producers write it into BIFF8 sheets.
      Formula(9, 1, F64(3.25), 0x0406) + Formula(9, 2, FormulaNonNumber(1, 0), 0x0406) +
      Formula(9, 3, FormulaNonNumber(2, 0x07), 0x0406) +
      Formula(9, 4, FormulaNonNumber(3, 0), 0x0406) +
      Formula(9, 5, FormulaNonNumber(0, 0), 0x0406) + String("old") +
      Formula(9, 6, F64(-4), 0x0206) +
      // A STRING after SHRFMLA, ARRAY, TABLE; the last continued, switching to 16-bit characters.
      TextFormula(10, 1) + Rec(0x04BC, std::string(10, '\0')) + String("shared") +
      TextFormula(10, 2) + Rec(0x0221, std::string(14, '\0')) + String("array") +
      TextFormula(10, 3) + Rec(0x0236, std::string(16, '\0')) + Rec(0x0207, U16(4) + '\0' + "ab") +
      Continue("\x01" + U16(0x3042) + U16('z')) +
      // A LABEL over 8,224 bytes; an embedded chart's records; cells outside DIMENSIONS.
      Label(11, 1, Compressed(std::string(10000, 'x'))) + Bof(0x20) + Number(12, 1, 99) +
      Bof(0x20) + Eof() + Eof() + Number(12, 2, 2) + Number(900, 200, 1) +
      Label(13, 1, Compressed("a\0b"s)) + Label(13, 2, Wide(u"\0\u00E9\0"s)) + LabelSst(13, 3, 0) +
      // A cell written again: the later record wins.
      Number(1, 2, 5) + BoolErr(1, 2, 1, false);
  const std::string dimensions = Rec(0x0200, U32(0) + U32(1) + U16(0) + U16(1) + U16(0));
  // RK numbers: integer or upper bits of a double, either of them x100.
  // clang-format off
  const std::pair<std::uint32_t, double> rks[] = {
      {(5u << 2) | 2, 5}, {static_cast<std::uint32_t>(-7 * 4) | 2, -7}, {(50u << 2) | 3, 0.5},
      {static_cast<std::uint32_t>(-1234 * 4) | 3, -12.34}, {0x3FF00000u, 1.0},
      {0x3FF00000u | 1, 0.01}, {0xC0040000u, -2.5}};
  // clang-format on
  std::string rk_records;
  for (int i = 0; i < int(std::size(rks)); ++i) rk_records += Rk(8, i + 1, rks[i].first);
  // NUL is a character like any other.
  const Workbook book =
      Open(OneSheetFile(dimensions + records + rk_records, Sst(1, Compressed("\0\0;--"s))));
  for (int i = 0; i < int(std::size(rks)); ++i) {
    EXPECT_TRUE(book.Cell(1, 8, i + 1).SameAs(rks[i].second)) << RowOf(book, 1, 8, i + 1, i + 1);
  }
  EXPECT_EQ(RowOf(book, 1, 1, 4), "-98765.4321|True|1|2");
  EXPECT_EQ(RowOf(book, 1, 2, 1) + RowOf(book, 1, 3, 1) + RowOf(book, 1, 4, 1),
            "Empty\"caf\xC3\xA9\"\"\xE2\x82\xAC\xE6\x97\xA5\"");
  EXPECT_EQ(RowOf(book, 1, 5, 4) + ";" + RowOf(book, 1, 6, 4) + ";" + RowOf(book, 1, 7, 1),
            "True|False|Error 2007|Empty;2.5|True|Error 2042|\"\";\"result\"");
  EXPECT_EQ(RowOf(book, 1, 9, 6), "3.25|False|Error 2007|\"\"|\"old\"|-4");
  EXPECT_EQ(RowOf(book, 1, 10, 3), "\"shared\"|\"array\"|\"ab\xE3\x81\x82z\"");
  EXPECT_EQ(book.Cell(1, 11, 1).ToText(), std::string(10000, 'x'));
  EXPECT_EQ(RowOf(book, 1, 12, 2) + RowOf(book, 1, 900, 200, 200), "Empty|21");
  EXPECT_EQ(RowOf(book, 1, 13, 3), "\"a\0b\"|\"\0\xC3\xA9\0\"|\"\0\0;--\""s);
  EXPECT_TRUE(book.Cell(1, 65536, 256).IsEmpty());
}

// Every sheet kind counts, in tab order. Stream names compare without regard to case; "Workbook"
// is read before an older "Book", wherever it stands.
TEST(WorkbookSheets, KindsInTabOrderStreamNamesAndDateMode) {
  // Module1: a very hidden VB module, with no substream.
  const Workbook book = Open(CompoundFile(Stream({{"Cover", 0, 0, Number(1, 1, 1)},
                                                  {"Chart1", 2, 0, ""},
                                                  {"Macro1", 1, 0, Number(1, 1, 3)},
                                                  {"Module1", 6, 2, ""},
                                                  {"Hidden", 0, 1, Number(1, 1, 5)}})));
  std::string sheets;
  for (int i = 1; i <= book.SheetCount(); ++i) {
    sheets += book.SheetName(i) + (book.SheetHoldsCells(i) ? " cells " : " none ") +
              RowOf(book, i, 1, 1) + "; ";
  }
  EXPECT_EQ(sheets,
            "Cover cells 1; Chart1 none Empty; Macro1 cells 3; Module1 none Empty; "
            "Hidden cells 5; ");
  EXPECT_FALSE(book.Uses1904DateSystem());
  // An embedded substream in the globals, its own DATEMODE and EOF among them, is skipped.
  const std::string stream =
      Stream({{"S", 0, 0, Number(1, 1, 7)}}, Rec(0x0042, U16(1252)) + Rec(0x0022, U16(1)) +
                                                 Bof(0x20) + Rec(0x0022, U16(0)) + Eof());
  const std::string biff5 = Bof(5, 0x0500) + Eof();
  // clang-format off
  const std::vector<std::pair<std::string, std::string>> files[] = {
      {{"Workbook", stream}}, {{"WORKBOOK", stream}}, {{"Book", stream}}, {{"BOOK", stream}},
      {{"Book", biff5}, {"WorkBook", stream}}, {{"WorkBook", stream}, {"Book", biff5}}};
  // clang-format on
  for (const auto& streams : files) {
    const std::string file = CompoundFile(streams);
    ASSERT_EQ(Outcome(file), "opens") << streams.front().first << " of " << streams.size();
    EXPECT_TRUE(Open(file).Cell(1, 1, 1).SameAs(7.0) && Open(file).Uses1904DateSystem());
  }
}

TEST(WorkbookSst, StringsAcrossContinueRecordsWrongCountsAndLongTexts) {
  const std::string sst =
      // 0: header, then CONTINUE starting with a flag byte switching to 16-bit
      Rec(kSst, U32(9) + U32(9) + U16(2) + '\0') +
      Continue("\x01" + U16(0x00E9) + U16(0x20AC) +
               // 1: cut inside, the continuation switching back to 8-bit
               U16(5) + '\x01' + U16('a') + U16('b')) +
      Continue("\0"s + "cde" +
               // 2: rich text (2 runs), a phonetic block of 70,000 bytes over 3 more records
               U16(3) + '\x0C' + U16(2) + U32(70000) + "xyz" + std::string(8, 'r') +
               std::string(1000, 'p')) +
      Continue(std::string(8000, 'p')) + Continue(std::string(60000, 'p')) +
      Continue(std::string(1000, 'p') + Compressed("after") +
               // 4: an empty string ending exactly at the end of a record
               U16(0) + '\0') +
      Continue(Compressed("last"));
  std::string cells;
  for (int i = 0; i < 6; ++i) cells += LabelSst(1, i + 1, i);
  EXPECT_EQ(RowOf(Open(OneSheetFile(cells, sst)), 1, 1, 6),
            "\"\xC3\xA9\xE2\x82\xAC\"|\"abcde\"|\"xyz\"|\"after\"|\"\"|\"last\"");
  const std::string strings = Compressed("one") + Compressed("two") + Compressed("three");
  for (std::uint32_t declared : {0u, 1u, 1000000u}) {
    const Workbook book =
        Open(OneSheetFile(LabelSst(1, 1, 2) + LabelSst(1, 2, 0), Sst(declared, strings)));
    EXPECT_EQ(RowOf(book, 1, 1, 2), "\"three\"|\"one\"") << declared;
  }
  // 32,767 characters split as Excel does (full SST, CONTINUEs of 8,222 bytes) and LibreOffice.
  const auto split_sst = [](const std::u16string& text, bool wide, std::size_t first_room) {
    std::string chars;
    for (char16_t c : text) chars += wide ? U16(c) : std::string(1, static_cast<char>(c));
    const std::size_t width = wide ? 2 : 1, room = 8222 / width * width;
    std::string records =
        Sst(1, U16(text.size()) + char(wide) + chars.substr(0, first_room * width));
    for (std::size_t at = first_room * width; at < chars.size(); at += room) {
      records += Continue(char(wide) + chars.substr(at, room));
    }
    return records;
  };
  const std::u16string latin = u"\u00E9" + std::u16string(32765, u'x') + u"z",
                       wide = std::u16string(32766, u'\u65E5') + u"A";
  for (bool is_wide : {false, true}) {
    const std::string got =
        Open(OneSheetFile(LabelSst(1, 1, 0),
                          split_sst(is_wide ? wide : latin, is_wide, is_wide ? 4107 : 8213)))
            .Cell(1, 1, 1)
            .ToText();
    EXPECT_EQ(got.size(), is_wide ? 32766u * 3 + 1 : 32766u + 2) << is_wide;
    EXPECT_EQ(got.back(), is_wide ? 'A' : 'z');
  }
  const Workbook book = Open(Fixture("long_texts.xls"));
  std::string latin_text, wide_text;
  const char* const kWide[] = {"\u65E5", "\u672C", "\u8A9E", "\u00E9"};
  for (int i = 0; i < 32767; ++i) {
    latin_text += static_cast<char>('a' + i % 26);
    wide_text += kWide[i % 4];
  }
  EXPECT_TRUE(book.Cell(1, 1, 1).ToText() == latin_text);
  EXPECT_TRUE(book.Cell(1, 2, 1).ToText() == wide_text);
  EXPECT_EQ(book.Cell(1, 3, 1).ToText(), "after");
}

// The offset of the n-th record (0-based) of `type`, or of the last record when `type` is 0.
std::size_t Nth(const std::string& s, std::uint16_t type, int n = 0) {
  const auto load16 = [&](std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                      static_cast<unsigned char>(s[at + 1]) << 8);
  };
  std::size_t last = 0;
  for (std::size_t at = 0; at + 4 <= s.size(); at += 4 + load16(at + 2)) {
    if (load16(at) == type && n-- == 0) return at;
    last = at;
  }
  EXPECT_EQ(type, 0) << "no record";
  return last;
}
const auto Put = [](std::string& s, std::size_t at, const std::string& v) {
  s.replace(at, v.size(), v);
};

// Each made file, and each real file poked, fails with its own number and problem: 3100 not a
// workbook, 3101 unsupported version, 3102 encrypted, 3103 damaged.
TEST(WorkbookFailure, EachFileFailsWithItsNumberAndProblem) {
  const std::string empty_sheet = Stream({{"S", 0, 0, ""}}), values = Fixture("values.xls");
  const auto mulrk = [](int first, int last, int cells = 2) {
    std::string rks;
    for (int i = 0; i < cells; ++i) rks += U16(15) + U32(2);
    return Rec(0x00BD, U16(0) + U16(first) + rks + U16(last));
  };
  // A header claiming more allocation-table sectors than the file holds, or no valid sector size.
  const auto header = [&](std::size_t at, std::uint32_t v) {
    std::string f = values;
    Put(f, at, U32(v));
    return f;
  };
  const std::string nw = "3100 not a compound file", b2 = "3103 BIFF2 cell record in a BIFF8 sheet",
                    biff2 = U32(0) + std::string(3, '\0'),
                    fat =
                        "3103 allocation table larger "
                        "than the file",
                    range = "3103 MULRK column range does not match its cells",
                    short_cell = "3103 cell record too short", cut_off = "3103 string data cut off";
  // clang-format off
  const std::pair<std::string, std::string> made[] = {
      {"PK\x03\x04\x14\0\0\0"s + std::string(600, 'z'), nw}, {"", nw},
      {header(0x2C, 0xFFFFFFFFu), fat}, {header(0x2C, 0x80000000u), fat},
      {header(0x2C, values.size() / 512), fat},
      {header(0x1E, 0x00060040u), "3103 compound-file structure unreadable"},
      {CompoundFile(Stream({}), "Sheet1"), "3100 no workbook stream"},
      {CompoundFile(""), "3100 empty workbook stream"},
      {CompoundFile(Bof(5, 0x0500) + Eof(), "Book"), "3101 BIFF5"},
      {CompoundFile(Bof(5, 0x0700) + Eof(), "Book"), "3101 0x0700"},
      {CompoundFile(Rec(0x0409, U16(0) + U16(0x10)) + Eof()), "3101 BIFF4"},
      // BIFF2 to BIFF4 files are bare streams.
      {Rec(0x0009, U16(2) + U16(0x10)) + Eof(), "3101 BIFF2"},
      {Rec(0x0209, U16(0) + U16(0x10) + U16(0)) + Eof(), "3101 BIFF3"},
      {Rec(0x0409, U16(0) + U16(0x10) + U16(0)) + Number(1, 1, 1) + Eof(), "3101 BIFF4"},
      {Rec(0x0409, U16(0) + U16(0x10) + U16(0)).substr(0, 8), nw},
      {OneSheetFile("", Rec(0x002F, U16(0) + U16(0x1234) + U16(0x5678))), "3102 "},  // XOR
      {OneSheetFile("", Rec(0x002F, U16(1) + std::string(52, '\0'))), "3102 "},      // RC4
      {CompoundFile(Number(1, 1, 1) + Eof()), "3103 substream does not start with BOF"},
      {OneSheetFile(mulrk(250, 251) + mulrk(255, 256)), "3103 cell column outside the sheet"},
      {OneSheetFile(mulrk(0, 40, 1)), range}, {OneSheetFile(mulrk(5, 4, 1)), range},
      {OneSheetFile("", Sst(1, U16(1) + '\x04' + U32(100000) + "a")), cut_off},  // phonetics
      {OneSheetFile(TextFormula(1, 1) + Number(2, 1, 1)),
       "3103 text FORMULA without its STRING record"},
      {OneSheetFile(Rec(0x0203, U16(0) + U16(0))), short_cell},
      {OneSheetFile(Rec(0x0406, U16(0) + U16(0) + U16(15) + F64(1).substr(0, 6))), short_cell},
      // BIFF2's cell records have no XF index but three attribute bytes.
      {OneSheetFile(Rec(0x0002, biff2 + U16(5))), b2}, {OneSheetFile(Rec(0x0003, biff2 + F64(5))), b2},
      {OneSheetFile(Rec(0x0004, biff2 + "\x01x")), b2}, {OneSheetFile(Rec(0x0005, biff2 + "\x01\0"s)), b2},
      {OneSheetFile(Formula(1, 1, FormulaNonNumber(4, 0))), "3103 unknown FORMULA result type"},
      {CompoundFile(Bof(5) + Rec(0x0042, U16(1252))), "3103 workbook globals without EOF"},
      {CompoundFile(empty_sheet.substr(0, empty_sheet.size() - 4)), "3103 sheet without EOF"}};
  // clang-format on
  for (const auto& [file, outcome] : made) EXPECT_EQ(Outcome(file), outcome) << outcome;

  const auto length_of = [](std::uint16_t type, int n, std::uint16_t length) {
    return [=](std::string& s) { Put(s, Nth(s, type, n) + 2, U16(length)); };
  };
  const auto first_string_length = [](std::string& s) { Put(s, Nth(s, kSst) + 12, U16(0xFFFF)); };
  const std::string longer = "3103 record longer than the stream",
                    chars_cut = "3103 string characters cut off";
  // clang-format off
  const struct {
    const char* fixture;
    std::function<void(std::string&)> poke;
    std::string outcome;
  } poked[] = {
      {"values.xls", length_of(kBof, 0, 0xFFFF), longer},
      {"values.xls", length_of(kBof, 0, 0), "3103 BOF record too short"},
      {"values.xls", length_of(kBof, 1, 0xFFFF), longer},
      {"values.xls", length_of(0, 0, 1), longer},  // the last EOF
      {"big_sst.xls", length_of(0, 0, 0xFFFF), longer},
      {"values.xls", length_of(kSst, 0, 0), cut_off},
      {"big_sst.xls", [](auto& s) { s.replace(Nth(s, kSst) + 4, 8, std::string(8, '\xFF')); },
       "opens"},  // counts of all ones
      // A first string longer than its record, than the continue chain.
      {"values.xls", first_string_length, chars_cut}, {"big_sst.xls", first_string_length, chars_cut},
      {"big_sst.xls", length_of(kContinue, 0, 0xFFFF), cut_off},
      {"big_sst.xls", [](auto& s) { Put(s, Nth(s, kContinue), U16(0)); }, chars_cut},  // type lost
      {"values.xls", [](auto& s) { Put(s, Nth(s, kLabelSst) + 10, U32(0x80000000u)); },
       "3103 LABELSST index outside the SST"},
      {"values.xls", [](auto& s) { Put(s, Nth(s, kBoundSheet) + 4, U32(0x80000000u)); },
       "3103 sheet offset outside the stream"},
      {"values.xls", [](auto& s) { s[Nth(s, kBoundSheet) + 10] = '\xFF'; }, chars_cut},  // name
      {"big_sst.xls", [](auto& s) { s.resize(Nth(s, kContinue, 1) + 100); }, longer}};
  // clang-format on
  for (const auto& p : poked) {
    std::string stream = WorkbookStreamOf(Fixture(p.fixture));
    ASSERT_EQ(Outcome(CompoundFile(stream)), "opens") << p.fixture;
    p.poke(stream);
    EXPECT_EQ(Outcome(CompoundFile(stream)), p.outcome) << p.outcome;
  }
  // An SST that claims 2^31 strings is read for the strings it holds.
  std::string stream = WorkbookStreamOf(values);
  Put(stream, Nth(stream, kSst) + 8, U32(0x80000000u));
  const Workbook book = Open(CompoundFile(stream));
  EXPECT_EQ(RowOf(book, 1, 1, 2, 2) + RowOf(book, 1, 40, 200, 200), "\"plain\"\"far\"");
}

TEST(WorkbookFailure, ErrorsCarryDescriptionsDetailsAndNumbersOfPositions) {
  const platform::Error damaged = ErrorOf([] { Open(OneSheetFile(Number(1, 300, 1))); });
  EXPECT_EQ(damaged.description(), "Workbook is damaged");
  ASSERT_GE(damaged.details().size(), 3u);
  EXPECT_EQ(damaged.details()[0].first, "record offset");
  EXPECT_EQ(damaged.details().back(), platform::Error::Detail("sheet", "1 S"));
  TempDir dir;
  const std::string path = dir.Sub("crypt.xls");
  WriteFile(path, OneSheetFile("", Rec(0x002F, U16(1) + std::string(52, '\0'))));
  const platform::Error encrypted = ErrorOf([&] { Workbook::Open(path); });
  EXPECT_EQ(std::to_string(encrypted.number()) + " " + encrypted.description(),
            "3102 Workbook is encrypted");
  EXPECT_EQ(encrypted.details().back(), platform::Error::Detail("file", path));
  const Workbook book = Open(OneSheetFile(Number(1, 1, 1)));
  // clang-format off
  const std::function<void()> calls[] = {
      [&] { Workbook::Open(dir.Sub("none.xls")); }, [&] { Workbook::Open(dir.path()); },
      [&] { book.SheetName(0); }, [&] { book.Cell(2, 1, 1); }, [&] { book.SheetHoldsCells(2); },
      [&] { book.Cell(1, 0, 1); }, [&] { book.Cell(1, 65537, 1); }, [&] { book.Cell(1, 1, 257); }};
  // clang-format on
  std::string numbers;
  for (const auto& call : calls) numbers += std::to_string(ErrorOf(call).number()) + " ";
  EXPECT_EQ(numbers, "53 57 9 9 9 3104 3104 3104 ");  // 3104: cell out of range
}

// Every prefix of a stream holding each kind of record fails to open; only the whole one opens.
TEST(WorkbookFailure, EveryCutStreamFails) {
  const std::string sst = Rec(kSst, U32(2) + U32(2) + U16(3) + '\x0C' + U16(1) + U32(2)) +
                          Continue("\x01" + U16('a') + U16('b') + U16('c') + U32(0) + "pp") +
                          Continue(Compressed("x"));
  const std::string cells =
      LabelSst(1, 1, 1) + Rk(1, 2, 6) +
      Rec(0x00BD, U16(1) + U16(0) + U16(15) + U32(2) + U16(15) + U32(6) + U16(1)) +
      TextFormula(3, 1) + String("s") + BoolErr(4, 1, 1, false) + Bof(0x20) + Eof() +
      Rec(0x00D6, U16(0) + U16(5) + U16(0) + Wide(u"w") + U16(0));
  const std::string stream = Stream({{"C", 2, 0, ""}, {"S", 0, 0, cells}}, sst);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    const std::string outcome = Outcome(CompoundFile(stream.substr(0, cut)));
    EXPECT_EQ(outcome == "opens", cut == stream.size()) << "cut " << cut;
  }
}

// Globals of `entries` BOUNDSHEETs at `offset_of(i, body_start)`, then `body` at body_start.
std::string SheetListOver(int entries, const std::string& body,
                          const std::function<std::size_t(int, std::size_t)>& offset_of) {
  const auto entry = [](std::size_t offset) {
    return Rec(kBoundSheet,
               U32(static_cast<std::uint32_t>(offset)) + '\0' + '\0' + Compressed("S", 1));
  };
  const std::size_t body_start = Bof(5).size() + entries * entry(0).size() + Eof().size();
  std::string stream = Bof(5);
  for (int i = 0; i < entries; ++i) stream += entry(offset_of(i, body_start));
  return stream + Eof() + body;
}

// 20,000 entries at one sheet of 20,000 cells, or at the nested BOFs of one substream, would
// take minutes and gigabytes read apart: substreams never overlap, such lists are damage.
TEST(WorkbookFailure, AThousandSheetsOpenAndSheetListsThatRereadOneAreRefused) {
  std::vector<Sheet> sheets;
  for (int i = 1; i <= 1000; ++i)
    sheets.push_back({"S" + std::to_string(i), 0, 0, Number(2, 2, i)});
  const Workbook book = Open(CompoundFile(Stream(sheets)));
  EXPECT_EQ(book.SheetCount(), 1000);
  EXPECT_EQ(book.SheetName(1000) + " " + RowOf(book, 1000, 2, 2, 2), "S1000 1000");
  constexpr int kEntries = 20000;
  std::string cells, nested;
  for (int i = 0; i < kEntries; ++i) cells += Number(1 + i / 256, 1 + i % 256, i);
  for (int i = 0; i < kEntries; ++i) nested += Bof(0x10) + Number(1, 1, i);
  for (int i = 0; i < kEntries; ++i) nested += Eof();
  const std::size_t level = Bof(0x10).size() + Number(1, 1, 0).size();
  const auto same = [](int, std::size_t start) { return start; };
  EXPECT_EQ(Outcome(CompoundFile(SheetListOver(kEntries, Bof(0x10) + cells + Eof(), same))),
            "3103 two sheets start at one offset");
  EXPECT_EQ(Outcome(CompoundFile(SheetListOver(
                kEntries, nested, [&](int i, std::size_t start) { return start + i * level; }))),
            "3103 sheet without EOF");
  EXPECT_EQ(Outcome(CompoundFile(SheetListOver(2, Bof(0x10) + Eof(), same))),
            "3103 two sheets start at one offset");
}

}  // namespace
}  // namespace workbook_test
