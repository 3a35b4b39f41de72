// Typed writes: every value is converted to its column's declared type, or
// the row is refused whole.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/engine/database.h"
#include "platform/engine/engine_error.h"
#include "tests/platform/engine_test_support.h"

namespace platform::engine {
namespace {

using testing::ErrorOf;
using testing_support::TempDir;

struct Accepted {
  const char* type;
  Value written;
  const char* stored;  // typeof || ':' || quote(value) as SQLite keeps it
};

TEST(TypedWrite, ConvertsAcceptedValuesToTheDeclaredType) {
  const std::vector<Accepted> cases = {
      {"YESNO", Value(true), "integer:-1"},
      {"YESNO", Value(false), "integer:0"},
      {"YESNO", Value(std::int32_t{5}), "integer:-1"},
      {"YESNO", Value("yes"), "integer:-1"},
      {"YESNO", Value(" False "), "integer:0"},
      {"BYTE", Value(2.5), "integer:2"},
      {"BYTE", Value(" 255 "), "integer:255"},
      {"SHORT", Value(3.5), "integer:4"},
      {"SHORT", Value(std::int32_t{-32768}), "integer:-32768"},
      {"SHORT", Value(true), "integer:-1"},
      {"LONG", Value(2147483647.0), "integer:2147483647"},
      {"CURRENCY", Value(1.23456), "real:1.2346"},
      {"SINGLE", Value(0.1), "real:1.00000001490116119384e-01"},
      {"DOUBLE", Value("1E+20"), "real:1.0e+20"},
      {"FLOAT", Value(std::int32_t{7}), "real:7.0"},
      {"DATETIME", Value("2024-02-29"), "text:'2024-02-29 00:00:00'"},
      {"DATETIME", Value("2024-03-01 13:45:10"), "text:'2024-03-01 13:45:10'"},
      {"TIME", Value("23:59:59"), "text:'23:59:59'"},
      {"TEXT(3)", Value("äöü"), "text:'äöü'"},
      {"TEXT(10)", Value(2.5), "text:'2.5'"},
      {"CHAR(4)", Value("ab"), "text:'ab  '"},
      {"DECIMAL(18,0)", Value(2.5), "integer:2"},
      {"DECIMAL(18,0)", Value(1e17), "integer:100000000000000000"},
      {"MEMO", Value(true), "text:'True'"},
      {"BINARY(2)", Value("ab"), "blob:X'6162'"},
      {"LONG", Value::Null(), "null:NULL"},
      {"WHATEVER", Value(std::int32_t{3}), "integer:3"},
  };
  TempDir dir;
  Database db = Database::Create(dir.Sub("t.mdb"));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string table = "T" + std::to_string(i);
    db.Exec("CREATE TABLE " + table + " (F " + cases[i].type + ")");
    const RowId row = db.InsertRow(table, {{"f", cases[i].written}});
    const Rows rows =
        db.Query("SELECT typeof(F) || ':' || quote(F) FROM " + table + " WHERE rowid = ?",
                 std::vector<Value>{Value(static_cast<std::int32_t>(row))});
    EXPECT_EQ(rows.rows.at(0).at(0).ToText(), cases[i].stored)
        << cases[i].type << " " << cases[i].written.Describe();
  }
}

struct Refused {
  const char* type;
  Value written;
};

TEST(TypedWrite, RefusesValuesThatDoNotFitAndStoresNothingOfTheRow) {
  const std::vector<Refused> cases = {
      {"YESNO", Value("maybe")},         {"BYTE", Value(std::int32_t{256})},
      {"BYTE", Value(std::int32_t{-1})}, {"BYTE", Value(true)},
      {"SHORT", Value(32767.5)},         {"SHORT", Value("12a")},
      {"LONG", Value(2147483648.0)},     {"CURRENCY", Value(1e15)},
      {"SINGLE", Value(1e39)},           {"DATETIME", Value("2023-02-29")},
      {"DATETIME", Value("31/12/2024")}, {"DATETIME", Value(std::int32_t{1})},
      {"TIME", Value("24:00:00")},       {"TEXT(3)", Value("abcd")},
      {"CHAR(2)", Value("abc")},         {"DECIMAL(18,0)", Value(1e18)},
      {"BINARY(1)", Value("ab")},        {"LONG", Value::FromError(7)},
  };
  TempDir dir;
  Database db = Database::Create(dir.Sub("t.mdb"));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string table = "T" + std::to_string(i);
    db.Exec("CREATE TABLE " + table + " (Other LONG, F " + cases[i].type + ")");
    const Error e = ErrorOf([&] {
      db.InsertRow(table, {{"Other", Value(std::int32_t{1})}, {"F", cases[i].written}});
    });
    EXPECT_EQ(e.number(), engine_err::kValueDoesNotFit) << cases[i].type;
    EXPECT_EQ(testing::DetailOf(e, "table"), table);
    EXPECT_EQ(testing::DetailOf(e, "column"), "F");
    EXPECT_EQ(testing::DetailOf(e, "value"), cases[i].written.Describe());
    EXPECT_TRUE(db.Query("SELECT * FROM " + table).empty()) << cases[i].type;
  }
}

TEST(TypedWrite, UpdateRefusalKeepsTheWholeRow) {
  TempDir dir;
  Database db = testing::CreateAnalyserDatabase(dir.Sub("a.mdb"));
  const RowId row =
      db.InsertRow("tests", {{"TESTS_ID", Value(std::int16_t{12})}, {"Tests_Name", Value("GLU")}});
  EXPECT_EQ(
      ErrorOf([&] {
        db.UpdateRow("Tests", row, {{"Tests_Name", Value("NEW")}, {"Tests_Cycles", Value("300")}});
      }).number(),
      engine_err::kValueDoesNotFit);
  EXPECT_EQ(db.ReadField("Tests", row, "Tests_Name").ToText(), "GLU");
  EXPECT_EQ(ErrorOf([&] {
              db.InsertRow("Tests", {{"NoSuchColumn", Value(1.0)}});
            }).number(),
            engine_err::kUnknownField);
  EXPECT_EQ(ErrorOf([&] { db.InsertRow("NoSuchTable", {}); }).number(), engine_err::kUnknownTable);
}

}  // namespace
}  // namespace platform::engine
