#include "tests/support/databases.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <optional>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace testing_support {

namespace {

constexpr unsigned char kLeafTablePage = 0x0D;

unsigned BigEndian16(const std::string& bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) << 8 | static_cast<unsigned char>(bytes[at + 1]);
}

std::string CliOutput(const std::string& path, const std::string& sql) {
  const RunResult run = Sqlite3(path, sql);
  EXPECT_EQ(run.exit_status, 0) << sql << ": " << run.err;
  return run.out;
}

void LowerCellCount(const std::string& path, const std::string& table) {
  const long root =
      std::stol(CliOutput(path, "SELECT rootpage FROM sqlite_schema WHERE name = '" + table + "'"));
  std::string bytes = ReadFile(path);
  // The page size: 1 stands for 65536.
  const unsigned size_field = BigEndian16(bytes, 16);
  const std::size_t page_size = size_field == 1 ? 65536 : size_field;
  const std::size_t header = (root - 1) * page_size + (root == 1 ? 100 : 0);
  ASSERT_LT(header + 5, bytes.size());
  ASSERT_EQ(static_cast<unsigned char>(bytes[header]), kLeafTablePage) << table;
  const unsigned cells = BigEndian16(bytes, header + 3);
  ASSERT_GE(cells, 2u) << table;
  bytes[header + 3] = static_cast<char>((cells - 1) >> 8);
  bytes[header + 4] = static_cast<char>((cells - 1) & 0xFF);
  WriteFile(path, bytes);
}

}  // namespace

using platform::Value;
using platform::engine::Database;

std::string SampleDataSql() {
  return ExampleFile("analyser-sample-data.sql");
}

Database CreateAnalyserDatabase(const std::string& path, std::string_view data_sql,
                                std::pair<std::string_view, std::string_view> rewrite) {
  std::string schema = ExampleFile("analyser-schema.sql");
  if (!rewrite.first.empty()) {
    const std::size_t at = schema.find(rewrite.first);
    EXPECT_NE(at, std::string::npos) << rewrite.first;
    if (at != std::string::npos) schema.replace(at, rewrite.first.size(), rewrite.second);
  }
  Database db = Database::Create(path);
  db.Exec(schema);
  if (!data_sql.empty()) db.Exec(data_sql);
  return db;
}

std::string ExistingTestsSql(int first, int count) {
  const std::string from = std::to_string(first), to = std::to_string(first + count - 1);
  return "WITH RECURSIVE n(i) AS (SELECT " + from + " UNION ALL SELECT i + 1 FROM n WHERE i < " +
         to +
         ") INSERT INTO Tests (Tests_ID, Tests_Name, Tests_FullName, Tests_DefUnits, "
         "Tests_ReportingUnits, Tests_Formula, Tests_Active) "
         "SELECT i, 'T' || i, 'Existing test ' || i, 'mg/dL', 'mg/dL', 1, -1 FROM n;"
         "INSERT INTO TestVolumes (TV_TestsID, TV_Part, TV_ReagentVol) "
         "SELECT Tests_ID, 0, 200 FROM Tests WHERE Tests_ID >= " +
         from +
         ";INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc) "
         "SELECT Tests_ID, 1, 10, 20, 'NORMAL' FROM Tests WHERE Tests_ID >= " +
         from +
         ";INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) SELECT Tests_ID, 'LOT' FROM Tests "
         "WHERE Tests_ID >= " +
         from + ";";
}

Value QueryValue(Database& db, std::string_view sql) {
  const platform::engine::Rows rows = db.Query(sql);
  if (rows.rows.size() != 1 || rows.rows[0].size() != 1) {
    ADD_FAILURE() << "not one value: " << sql;
    return Value::Null();
  }
  return rows.rows[0][0];
}

Value QueryValue(const std::string& path, std::string_view sql) {
  Database db = Database::Open(path);
  return QueryValue(db, sql);
}

std::int64_t QueryCount(Database& db, std::string_view sql) {
  return QueryValue(db, sql).ToLong();
}

std::int64_t QueryCount(const std::string& path, std::string_view sql) {
  return QueryValue(path, sql).ToLong();
}

std::string DumpRows(Database& db, const std::string& sql) {
  std::string text;
  for (const auto& row : db.Query(sql).rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      text += (i ? "|" : "") + (row[i].IsNull() ? std::string("NULL") : row[i].ToText());
    }
    text += "\n";
  }
  return text;
}

std::string DumpDatabase(const std::string& path) {
  Database db = Database::Open(path);
  std::string dump;
  for (const auto& object :
       db.Query("SELECT type, name, sql FROM sqlite_master ORDER BY 1, 2").rows) {
    for (const Value& field : object) dump += field.Describe() + "|";
    dump += "\n";
  }
  const platform::engine::Rows tables =
      db.Query("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
  for (const std::vector<Value>& table : tables.rows) {
    dump += "table " + table[0].text() + "\n";
    const std::string select =
        "SELECT * FROM " + platform::engine::QuoteIdentifier(table[0].text()) + " ORDER BY rowid";
    for (const std::vector<Value>& row : db.Query(select).rows) {
      for (const Value& field : row) dump += field.Describe() + "|";
      dump += "\n";
    }
  }
  return dump;
}

void AddFiller(const std::string& path) {
  Database::Open(path).Exec(
      "CREATE TABLE Filler (Note MEMO);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
      "INSERT INTO Filler SELECT 'ROW-' || i || '-' || hex(randomblob(100)) FROM n");
}

void LeaveHotJournal(const std::string& path) {
  AddFiller(path);
  const std::string committed = ReadFile(path);
  std::optional<Database> killed;  // stays open in the child
  RunInKilledChild([&] {
    killed.emplace(Database::Open(path));
    killed->Exec("PRAGMA cache_size = 1; BEGIN; UPDATE Filler SET Note = 'HALF-WRITTEN';");
  });
  ASSERT_TRUE(Exists(path + "-journal")) << "no hot journal was left";
  ASSERT_FALSE(ReadFile(path) == committed) << "the database file was not half written";
}

void DamageDatabase(const std::string& path, Damage damage, const std::string& table) {
  switch (damage) {
    case Damage::kLoweredCellCount: LowerCellCount(path, table); return;
    case Damage::kTruncated:
      // Free pages at the end would be cut without harm: none are left.
      CliOutput(path, "VACUUM");
      std::filesystem::resize_file(path, std::filesystem::file_size(path) - 1000);
      return;
  }
}

std::string QuickCheckOutput(const std::string& path) {
  return CliOutput(path, "PRAGMA quick_check");
}

}  // namespace testing_support
