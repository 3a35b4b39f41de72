// Hostile workbooks: bytes of real LibreOffice files poked into absurd
// record lengths, counts and offsets, each failing with its exact error;
// texts at the 32,767-character limit and texts holding NUL characters;
// a thousand sheets, and sheet lists that would have one sheet read over
// and over. Every case opens or fails with a defined error, in bounded time.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "tests/platform/workbook_test_support.h"

namespace {

using namespace workbook_test;
using namespace std::string_literals;

struct RecordAt {
  std::size_t offset;  // of the header
  std::uint16_t type;
  std::uint16_t length;
};

std::uint16_t Load16(const std::string& s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                    static_cast<unsigned char>(s[at + 1]) << 8);
}

// The records of a well-formed stream, one after the other.
std::vector<RecordAt> Records(const std::string& stream) {
  std::vector<RecordAt> records;
  for (std::size_t at = 0; at + 4 <= stream.size();) {
    records.push_back({at, Load16(stream, at), Load16(stream, at + 2)});
    at += 4 + records.back().length;
  }
  return records;
}

// The n-th record (0-based) of a type.
RecordAt Nth(const std::string& stream, std::uint16_t type, int n = 0) {
  for (const RecordAt& r : Records(stream)) {
    if (r.type == type && n-- == 0) return r;
  }
  ADD_FAILURE() << "no record " << type;
  return {0, 0, 0};
}

void Put16(std::string& s, std::size_t at, std::uint16_t v) {
  s.replace(at, 2, U16(v));
}
void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  s.replace(at, 4, U32(v));
}

// The outcome of opening the stream in a compound file.
std::string StreamOutcome(const std::string& stream) {
  return Outcome(CompoundFile(stream));
}

constexpr std::uint16_t kBof = 0x0809, kEof = 0x000A, kContinue = 0x003C, kSst = 0x00FC,
                        kLabelSst = 0x00FD, kBoundSheet = 0x0085;

struct Corruption {
  const char* name;
  const char* fixture;
  std::function<void(std::string&)> poke;
  std::string outcome;
};

std::vector<Corruption> Corruptions() {
  const std::string damaged = std::to_string(werr::kDamaged) + " ";
  const auto length_of = [](std::uint16_t type, int n, std::uint16_t length) {
    return [=](std::string& s) { Put16(s, Nth(s, type, n).offset + 2, length); };
  };
  const auto last_length = [](std::uint16_t length) {
    return [=](std::string& s) { Put16(s, Records(s).back().offset + 2, length); };
  };
  return {
      {"bof_length_ffff", "values.xls", length_of(kBof, 0, 0xFFFF),
       damaged + "record longer than the stream"},
      {"bof_length_0", "values.xls", length_of(kBof, 0, 0), damaged + "BOF record too short"},
      {"sheet_bof_length_ffff", "values.xls", length_of(kBof, 1, 0xFFFF),
       damaged + "record longer than the stream"},
      {"last_eof_length_past_the_end", "values.xls", last_length(1),
       damaged + "record longer than the stream"},
      {"last_eof_length_ffff", "big_sst.xls", last_length(0xFFFF),
       damaged + "record longer than the stream"},
      {"sst_length_0", "values.xls", length_of(kSst, 0, 0), damaged + "string data cut off"},
      {"sst_counts_all_ones", "big_sst.xls",
       [](std::string& s) {
         Put32(s, Nth(s, kSst).offset + 4, 0xFFFFFFFFu);
         Put32(s, Nth(s, kSst).offset + 8, 0xFFFFFFFFu);
       },
       "opens"},
      {"sst_string_length_past_the_record", "values.xls",
       [](std::string& s) { Put16(s, Nth(s, kSst).offset + 12, 0xFFFF); },
       damaged + "string characters cut off"},
      {"sst_string_length_past_the_continue_chain", "big_sst.xls",
       [](std::string& s) { Put16(s, Nth(s, kSst).offset + 12, 0xFFFF); },
       damaged + "string characters cut off"},
      {"continue_length_ffff", "big_sst.xls", length_of(kContinue, 0, 0xFFFF),
       damaged + "string data cut off"},
      {"continue_chain_cut_by_a_lost_type", "big_sst.xls",
       [](std::string& s) { Put16(s, Nth(s, kContinue, 0).offset, 0x0000); },
       damaged + "string characters cut off"},
      {"labelsst_index_2_31", "values.xls",
       [](std::string& s) { Put32(s, Nth(s, kLabelSst).offset + 10, 0x80000000u); },
       damaged + "LABELSST index outside the SST"},
      {"boundsheet_offset_2_31", "values.xls",
       [](std::string& s) { Put32(s, Nth(s, kBoundSheet).offset + 4, 0x80000000u); },
       damaged + "sheet offset outside the stream"},
      {"boundsheet_name_length_past_the_record", "values.xls",
       [](std::string& s) { s[Nth(s, kBoundSheet).offset + 10] = '\xFF'; },
       damaged + "string characters cut off"},
      {"stream_cut_inside_the_continue_chain", "big_sst.xls",
       [](std::string& s) { s.resize(Nth(s, kContinue, 1).offset + 100); },
       damaged + "record longer than the stream"},
  };
}

TEST(WorkbookHostile, PokedRealFilesFailWithTheirExactError) {
  for (const Corruption& c : Corruptions()) {
    std::string stream = FixtureStream(c.fixture);
    ASSERT_EQ(StreamOutcome(stream), "opens") << c.fixture;
    c.poke(stream);
    EXPECT_EQ(StreamOutcome(stream), c.outcome) << c.name;
  }
  // An SST that claims 2^31 strings is read for the strings it holds: the
  // claim allocates nothing.
  std::string stream = FixtureStream("values.xls");
  Put32(stream, Nth(stream, kSst).offset + 8, 0x80000000u);
  const Workbook book = Workbook::OpenFromMemory(CompoundFile(stream));
  EXPECT_EQ(RowOf(book, 1, 1, 2, 2) + RowOf(book, 1, 40, 200, 200), "\"plain\"\"far\"");
}

// The compound file's header (of a real file) claiming more allocation-table
// sectors than the file holds, or a sector size the format does not have:
// the workbook is damaged, and says why.
TEST(WorkbookHostile, CompoundFileHeadersThatContradictTheFile) {
  const std::string file = testing_support::ReadFile(FixturePath("values.xls"));
  constexpr std::size_t kSectorShift = 0x1E, kFatSectorCount = 0x2C;
  const std::uint32_t file_sectors = static_cast<std::uint32_t>(file.size() / 512);
  const std::string damaged = std::to_string(werr::kDamaged) + " ";
  const struct {
    std::size_t at;
    std::uint32_t value;
    std::string outcome;
  } pokes[] = {
      {kFatSectorCount, 0xFFFFFFFFu, damaged + "allocation table larger than the file"},
      {kFatSectorCount, 0x80000000u, damaged + "allocation table larger than the file"},
      {kFatSectorCount, 0x00100000u, damaged + "allocation table larger than the file"},
      {kFatSectorCount, file_sectors, damaged + "allocation table larger than the file"},
      {kSectorShift, 0x00060040u, damaged + "compound-file structure unreadable"},
  };
  for (const auto& p : pokes) {
    std::string poked = file;
    Put32(poked, p.at, p.value);
    EXPECT_EQ(Outcome(poked), p.outcome) << p.at << " " << p.value;
  }
}

// An SST of one text, its first `first_room` characters in the SST record,
// the rest in CONTINUE records of 8,222 bytes of characters.
std::string SplitSstString(const std::u16string& text, bool wide, std::size_t first_room) {
  std::string chars;
  for (char16_t c : text) chars += wide ? U16(c) : std::string(1, static_cast<char>(c));
  const std::size_t width = wide ? 2 : 1;
  std::string records = Rec(0x00FC, U32(1) + U32(1) + U16(static_cast<std::uint16_t>(text.size())) +
                                        char(wide ? 1 : 0) + chars.substr(0, first_room * width));
  for (std::size_t at = first_room * width; at < chars.size(); at += 8222 / width * width) {
    records += Rec(0x003C, char(wide ? 1 : 0) + chars.substr(at, 8222 / width * width));
  }
  return records;
}

// Split as Excel does (the SST record full, each CONTINUE starting with the
// option byte) and as LibreOffice does (tests/fixtures/workbook).
TEST(WorkbookHostile, TextsOf32767CharactersAcrossContinueRecords) {
  std::u16string latin(32767, u'x'), wide(32767, u'\u65E5');
  latin[0] = u'\u00E9';
  latin[32766] = u'z';
  wide[32766] = u'A';
  for (bool is_wide : {false, true}) {
    const std::u16string& text = is_wide ? wide : latin;
    const Workbook book = Workbook::OpenFromMemory(
        OneSheetFile(LabelSst(1, 1, 0), SplitSstString(text, is_wide, is_wide ? 4107 : 8213)));
    const std::string got = book.Cell(1, 1, 1).ToText();
    EXPECT_EQ(got.size(), is_wide ? 32766u * 3 + 1 : 32766u + 2) << is_wide;
    EXPECT_EQ(got.back(), is_wide ? 'A' : 'z');
  }
  const Workbook book = Workbook::Open(FixturePath("long_texts.xls"));
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

// NUL is a character like any other in a BIFF8 string: it is read, and the
// text keeps every character after it.
TEST(WorkbookHostile, TextsHoldingNulAreReadWhole) {
  const Workbook book = Workbook::OpenFromMemory(OneSheetFile(
      Label(1, 1, Compressed("a\0b"s)) + Label(1, 2, Wide(u"\0\u00E9\0"s)) + LabelSst(1, 3, 0),
      Sst(1, Compressed("\0\0;--"s))));
  EXPECT_EQ(RowOf(book, 1, 1, 3), "\"a\0b\"|\"\0\xC3\xA9\0\"|\"\0\0;--\""s);
}

double SecondsOf(const std::function<void()>& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Globals whose BOUNDSHEET entries (all worksheets, named "S") point at the
// offsets that `offset_of(i, body_start)` gives, then `body`, which starts
// at body_start.
std::string SheetListOver(int entries, const std::string& body,
                          const std::function<std::size_t(int, std::size_t)>& offset_of) {
  const auto entry = [](std::size_t offset) {
    return Rec(0x0085, U32(static_cast<std::uint32_t>(offset)) + '\0' + '\0' + Compressed("S", 1));
  };
  const std::size_t body_start = Bof(5).size() + entries * entry(0).size() + Eof().size();
  std::string stream = Bof(5);
  for (int i = 0; i < entries; ++i) stream += entry(offset_of(i, body_start));
  return stream + Eof() + body;
}

// Each entry read apart, 20,000 entries at one sheet of 20,000 cells would be
// 400 million cells, and 20,000 entries at the nested BOFs of one substream
// 200 million records skipped: minutes and gigabytes. Substreams never
// overlap, so such lists are damage, found before any sheet is read twice.
TEST(WorkbookHostile, AThousandSheetsOpenAndSheetListsThatRereadOneAreRefusedQuickly) {
  std::vector<Sheet> sheets;
  for (int i = 1; i <= 1000; ++i)
    sheets.push_back({"S" + std::to_string(i), 0, 0, Number(2, 2, i)});
  const std::string file = CompoundFile(Stream(sheets));
  EXPECT_LT(SecondsOf([&] {
              const Workbook book = Workbook::OpenFromMemory(file);
              EXPECT_EQ(book.SheetCount(), 1000);
              EXPECT_EQ(book.SheetName(1000) + " " + RowOf(book, 1000, 2, 2, 2), "S1000 1000");
            }),
            10);

  const std::string damaged = std::to_string(werr::kDamaged) + " ";
  constexpr int kEntries = 20000;
  std::string cells;
  for (int i = 0; i < kEntries; ++i) cells += Number(1 + i / 256, 1 + i % 256, i);
  std::string nested;
  for (int i = 0; i < kEntries; ++i) nested += Bof(0x10) + Number(1, 1, i);
  for (int i = 0; i < kEntries; ++i) nested += Eof();
  const std::size_t level = Bof(0x10).size() + Number(1, 1, 0).size();
  const double seconds = SecondsOf([&] {
    EXPECT_EQ(StreamOutcome(SheetListOver(kEntries, Bof(0x10) + cells + Eof(),
                                          [](int, std::size_t start) { return start; })),
              damaged + "two sheets start at one offset");
    EXPECT_EQ(StreamOutcome(SheetListOver(
                  kEntries, nested, [&](int i, std::size_t start) { return start + i * level; })),
              damaged + "sheet without EOF");
  });
  EXPECT_LT(seconds, 10);
  // Two sheets at one offset are refused however small.
  EXPECT_EQ(StreamOutcome(
                SheetListOver(2, Bof(0x10) + Eof(), [](int, std::size_t start) { return start; })),
            damaged + "two sheets start at one offset");
}

}  // namespace
