// Every cell of the workbooks LibreOffice wrote reads as xlrd recorded it.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "tests/platform/workbook_test_support.h"

namespace {

using namespace workbook_test;

// xlrd's kind and value as the reader must give them.
Value Expected(const nlohmann::json& cell) {
  const std::string kind = cell[2];
  const nlohmann::json& v = cell[3];
  if (kind == "number" || kind == "date") return Value(v.get<double>());
  if (kind == "text") return Value(v.get<std::string>());
  if (kind == "boolean") return Value(v.get<bool>());
  if (kind == "error") return Value::FromError(v.get<int>());
  return Value();  // blank
}

class FixtureTest : public testing::TestWithParam<std::string> {};

TEST_P(FixtureTest, EveryCellAsRecorded) {
  std::ifstream in(FixturePath(GetParam() + ".json"));
  ASSERT_TRUE(in) << GetParam();
  const nlohmann::json record = nlohmann::json::parse(in);
  const Workbook book = Workbook::Open(FixturePath(GetParam()));
  ASSERT_EQ(book.SheetCount(), record["sheet_count"].get<int>());
  for (const auto& sheet : record["sheets"]) {
    const int position = sheet["position"];
    EXPECT_EQ(book.SheetName(position), sheet["name"].get<std::string>());
    std::set<std::pair<int, int>> listed;
    for (const auto& cell : sheet["cells"]) {
      const int row = cell[0], column = cell[1];
      listed.insert({row, column});
      const Value got = book.Cell(position, row, column);
      EXPECT_TRUE(got.SameAs(Expected(cell)))
          << GetParam() << " sheet " << position << " R" << row << "C" << column << ": got "
          << got.Describe() << ", xlrd " << cell.dump();
    }
    // Everything else in xlrd's extent, and one row and column beyond, is empty.
    for (int r = 1; r <= sheet["rows"].get<int>() + 1; ++r) {
      for (int c = 1; c <= sheet["columns"].get<int>() + 1; ++c) {
        if (!listed.count({r, c})) {
          EXPECT_TRUE(book.Cell(position, r, c).IsEmpty()) << "R" << r << "C" << c;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(LibreOffice, FixtureTest,
                         testing::Values("values.xls", "sheets.xls", "big_sst.xls"),
                         [](const auto& info) {
                           return info.param.substr(0, info.param.find('.'));
                         });

}  // namespace
