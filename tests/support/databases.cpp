// Analyser databases of a test: made from the example schema, queried, dumped, damaged.
#include "tests/support/databases.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace testing_support {

using platform::Value;
using platform::engine::Database;

namespace {

std::string CliOutput(const std::string& path, const std::string& sql) {
  const RunResult run = Sqlite3(path, sql);
  EXPECT_EQ(run.exit_status, 0) << sql << ": " << run.err;
  return run.out;
}

}  // namespace

std::string SampleDataSql() {
  return ExampleFile("analyser-sample-data.sql");
}

Database CreateAnalyserDatabase(const std::string& path, std::string_view data_sql,
                                std::pair<std::string_view, std::string_view> rewrite) {
  std::string schema = ExampleFile("analyser-schema.sql");
  const std::size_t at = rewrite.first.empty() ? std::string::npos : schema.find(rewrite.first);
  EXPECT_TRUE(rewrite.first.empty() || at != std::string::npos) << rewrite.first;
  if (at != std::string::npos) schema.replace(at, rewrite.first.size(), rewrite.second);
  Database db = Database::Create(path);
  db.Exec(schema);
  if (!data_sql.empty()) db.Exec(data_sql);
  return db;
}

std::string ExistingTestsSql(int first, int count) {
  std::string sql = R"(WITH RECURSIVE n(i) AS (SELECT @F UNION ALL SELECT i + 1 FROM n WHERE i < @L)
INSERT INTO Tests (Tests_ID, Tests_Name, Tests_FullName, Tests_DefUnits, Tests_ReportingUnits,
  Tests_Formula, Tests_Active)
  SELECT i, 'T' || i, 'Existing test ' || i, 'mg/dL', 'mg/dL', 1, -1 FROM n;
INSERT INTO TestVolumes (TV_TestsID, TV_Part, TV_ReagentVol)
  SELECT Tests_ID, 0, 200 FROM Tests WHERE Tests_ID >= @F;
INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc)
  SELECT Tests_ID, 1, 10, 20, 'NORMAL' FROM Tests WHERE Tests_ID >= @F;
INSERT INTO Kits (Kits_TestsID, Kits_LotNumber)
  SELECT Tests_ID, 'LOT' FROM Tests WHERE Tests_ID >= @F;)";
  for (std::size_t at; (at = sql.find('@')) != std::string::npos;) {
    sql.replace(at, 2, std::to_string(sql[at + 1] == 'F' ? first : first + count - 1));
  }
  return sql;
}

Value QueryValue(Database& db, std::string_view sql) {
  const platform::engine::Rows rows = db.Query(sql);
  const bool one = rows.rows.size() == 1 && rows.rows[0].size() == 1;
  EXPECT_TRUE(one) << "not one value: " << sql;
  return one ? rows.rows[0][0] : Value::Null();
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
      if (i) text += '|';
      text += row[i].IsNull() ? std::string("NULL") : row[i].ToText();
    }
    text += "\n";
  }
  return text;
}

std::string DumpDatabase(const std::string& path) {
  Database db = Database::Open(path);
  std::string dump;
  const auto add_rows = [&](const std::string& sql) {
    for (const std::vector<Value>& row : db.Query(sql).rows) {
      for (const Value& field : row) dump += field.Describe() + "|";
      dump += "\n";
    }
  };
  add_rows("SELECT type, name, sql FROM sqlite_master ORDER BY 1, 2");
  for (const std::vector<Value>& table :
       db.Query("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name").rows) {
    dump += "table " + table[0].text() + "\n";
    add_rows("SELECT * FROM " + platform::engine::QuoteIdentifier(table[0].text()) +
             " ORDER BY rowid");
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
  if (damage == Damage::kTruncated) {
    // Free pages at the end would be cut without harm: none are left.
    CliOutput(path, "VACUUM");
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 1000);
    return;
  }
  // The root page's header, after the file header on page 1.
  const std::size_t header = std::stoul(
      CliOutput(path,
                "SELECT (rootpage - 1) * page_size + (rootpage = 1) * 100 FROM sqlite_schema, "
                "pragma_page_size WHERE name = '" +
                    table + "'"));
  std::string bytes = ReadFile(path);
  ASSERT_LT(header + 5, bytes.size());
  ASSERT_EQ(static_cast<unsigned char>(bytes[header]), 0x0D) << table << ": no leaf table page";
  const unsigned cells = static_cast<unsigned char>(bytes[header + 3]) << 8 |
                         static_cast<unsigned char>(bytes[header + 4]);
  ASSERT_GE(cells, 2u) << table;
  bytes[header + 3] = static_cast<char>((cells - 1) >> 8);
  bytes[header + 4] = static_cast<char>((cells - 1) & 0xFF);
  WriteFile(path, bytes);
}

std::string QuickCheckOutput(const std::string& path) {
  return CliOutput(path, "PRAGMA quick_check");
}

}  // namespace testing_support
