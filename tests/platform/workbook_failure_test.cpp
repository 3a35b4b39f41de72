// Files the workbook reader refuses, each with its own error number, and
// damaged streams that must fail cleanly instead of reading out of bounds.
#include <gtest/gtest.h>

#include "platform/core/error.h"
#include "platform/workbook/workbook.h"
#include "tests/platform/workbook_biff_writer.h"
#include "tests/support/test_support.h"

namespace {

using namespace workbook_test;
using platform::workbook::Workbook;
namespace werr = platform::workbook::err;

long OpenError(const std::string& file) {
  try {
    Workbook::OpenFromMemory(file);
  } catch (const platform::Error& e) {
    return e.number();
  }
  return 0;
}

struct FailureCase {
  const char* name;
  std::string file;
  long number;
};

std::vector<FailureCase> FailureCases() {
  const std::string good_sheet = Number(1, 1, 1);
  const std::string text_formula = Formula(1, 1, FormulaNonNumber(0, 0));
  std::string truncated = Stream({{"S", 0, 0, good_sheet}});
  truncated.resize(truncated.size() - 10);
  std::string bad_offset = Stream({{"S", 0, 0, ""}});
  bad_offset[Bof(5).size() + 4] = '\x7F';  // BOUNDSHEET offset far past the end
  std::string zip("PK\x03\x04\x14\x00\x00\x00", 8);
  zip += std::string(600, 'z');
  return {
      {"text_file", "TestNumber,TestName\n1,GLU\n", werr::kNotAWorkbook},
      {"xlsx_renamed", zip, werr::kNotAWorkbook},
      {"empty_file", "", werr::kNotAWorkbook},
      {"no_workbook_stream", CompoundFile(Stream({}), "Sheet1"), werr::kNotAWorkbook},
      {"empty_stream", CompoundFile(""), werr::kNotAWorkbook},
      {"biff5_in_book", CompoundFile(Bof(5, 0x0500) + Eof(), "Book"), werr::kUnsupportedVersion},
      {"biff4", CompoundFile(Rec(0x0409, U16(0) + U16(0x10)) + Eof()), werr::kUnsupportedVersion},
      {"filepass_xor", OneSheetFile(good_sheet, Rec(0x002F, U16(0) + U16(0x1234) + U16(0x5678))),
       werr::kEncrypted},
      {"filepass_rc4", OneSheetFile(good_sheet, Rec(0x002F, U16(1) + std::string(52, '\0'))),
       werr::kEncrypted},
      {"no_bof", CompoundFile(Number(1, 1, 1) + Eof()), werr::kDamaged},
      {"truncated_stream", CompoundFile(truncated), werr::kDamaged},
      {"record_past_end", CompoundFile(Bof(5) + U16(0x0085) + U16(500) + "abc"), werr::kDamaged},
      {"sheet_offset_outside", CompoundFile(bad_offset), werr::kDamaged},
      {"mulrk_columns_too_many",
       OneSheetFile(
           Rec(0x00BD, U16(0) + U16(250) + U16(15) + U32(2) + U16(15) + U32(2) + U16(251)) +
           Rec(0x00BD, U16(0) + U16(255) + U16(15) + U32(2) + U16(15) + U32(2) + U16(256))),
       werr::kDamaged},
      {"mulrk_range_mismatch",
       OneSheetFile(Rec(0x00BD, U16(0) + U16(0) + U16(15) + U32(2) + U16(40))), werr::kDamaged},
      {"mulrk_reversed", OneSheetFile(Rec(0x00BD, U16(0) + U16(5) + U16(15) + U32(2) + U16(4))),
       werr::kDamaged},
      {"labelsst_beyond_sst",
       OneSheetFile(LabelSst(1, 1, 1), Rec(0x00FC, U32(5) + U32(5) + Compressed("only"))),
       werr::kDamaged},
      {"sst_string_cut_off",
       OneSheetFile("", Rec(0x00FC, U32(1) + U32(1) + U16(50) + '\0' + "short")), werr::kDamaged},
      {"phonetic_past_end",
       OneSheetFile("", Rec(0x00FC, U32(1) + U32(1) + U16(1) + '\x04' + U32(100000) + "a")),
       werr::kDamaged},
      {"text_formula_without_string", OneSheetFile(text_formula + Number(2, 1, 1)), werr::kDamaged},
      {"short_number", OneSheetFile(Rec(0x0203, U16(0) + U16(0))), werr::kDamaged},
      {"column_outside_sheet", OneSheetFile(Number(1, 300, 1)), werr::kDamaged},
      {"sheet_without_eof",
       CompoundFile(Stream({{"S", 0, 0, ""}}).substr(0, Stream({{"S", 0, 0, ""}}).size() - 4)),
       werr::kDamaged},
  };
}

TEST(WorkbookFailure, EachFileFailsWithItsNumber) {
  for (const FailureCase& c : FailureCases()) {
    EXPECT_EQ(OpenError(c.file), c.number) << c.name;
  }
}

TEST(WorkbookFailure, ErrorsCarryFixedDescriptionsAndDetails) {
  try {
    Workbook::OpenFromMemory(OneSheetFile(Number(1, 300, 1)));
    FAIL();
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.description(), "Workbook is damaged");
    ASSERT_GE(e.details().size(), 3u);
    EXPECT_EQ(e.details()[0].first, "record offset");
    EXPECT_EQ(e.details().back(), platform::Error::Detail("sheet", "1 S"));
  }
  testing_support::TempDir dir;
  const std::string path = dir.Sub("crypt.xls");
  testing_support::WriteFile(path, OneSheetFile("", Rec(0x002F, U16(1) + std::string(52, '\0'))));
  try {
    Workbook::Open(path);
    FAIL();
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), werr::kEncrypted);
    EXPECT_EQ(e.description(), "Workbook is encrypted");
    EXPECT_EQ(e.details().back(), platform::Error::Detail("file", path));
  }
}

TEST(WorkbookFailure, MissingFileIsFileNotFoundAndAFolderCannotBeRead) {
  testing_support::TempDir dir;
  try {
    Workbook::Open(dir.Sub("none.xls"));
    FAIL();
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::err::kFileNotFound);
  }
  try {
    Workbook::Open(dir.path());
    FAIL();
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::err::kDeviceIoError);
  }
}

TEST(WorkbookFailure, PositionsOutsideTheWorkbook) {
  const Workbook book = Workbook::OpenFromMemory(OneSheetFile(Number(1, 1, 1)));
  auto number_of = [&](auto call) {
    try {
      call();
    } catch (const platform::Error& e) {
      return e.number();
    }
    return 0L;
  };
  EXPECT_EQ(number_of([&] { book.SheetName(0); }), platform::err::kSubscriptOutOfRange);
  EXPECT_EQ(number_of([&] { book.Cell(2, 1, 1); }), platform::err::kSubscriptOutOfRange);
  EXPECT_EQ(number_of([&] { book.SheetHoldsCells(2); }), platform::err::kSubscriptOutOfRange);
  EXPECT_EQ(number_of([&] { book.Cell(1, 0, 1); }), werr::kCellOutOfRange);
  EXPECT_EQ(number_of([&] { book.Cell(1, 65537, 1); }), werr::kCellOutOfRange);
  EXPECT_EQ(number_of([&] { book.Cell(1, 1, 257); }), werr::kCellOutOfRange);
}

// Every prefix of a stream holding each kind of record, and every single
// byte flipped in it, either opens or fails with a platform::Error.
TEST(WorkbookFailure, CutAndFlippedStreamsNeverCrash) {
  const std::string sst = Rec(0x00FC, U32(2) + U32(2) + U16(3) + '\x0C' + U16(1) + U32(2)) +
                          Rec(0x003C, "\x01" + U16('a') + U16('b') + U16('c') + U32(0) + "pp") +
                          Rec(0x003C, Compressed("x"));
  const std::string cells =
      LabelSst(1, 1, 1) + Rk(1, 2, 6) +
      Rec(0x00BD, U16(1) + U16(0) + U16(15) + U32(2) + U16(15) + U32(6) + U16(1)) +
      Formula(3, 1, FormulaNonNumber(0, 0)) + Rec(0x0207, Compressed("s")) +
      BoolErr(4, 1, 1, false) + Bof(0x20) + Eof() +
      Rec(0x00D6, U16(0) + U16(5) + U16(0) + Wide(u"w") + U16(0));
  const std::string stream = Stream({{"C", 2, 0, ""}, {"S", 0, 0, cells}}, sst);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    const long n = OpenError(CompoundFile(stream.substr(0, cut)));
    EXPECT_TRUE(cut == stream.size() ? n == 0 : n > 0) << "cut " << cut;
  }
  for (std::size_t i = 0; i < stream.size(); ++i) {
    std::string flipped = stream;
    flipped[i] = static_cast<char>(flipped[i] ^ 0xA5);
    OpenError(CompoundFile(flipped));
  }
}

}  // namespace
