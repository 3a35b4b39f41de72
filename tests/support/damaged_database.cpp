#include "tests/support/damaged_database.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>

#include "tests/support/test_support.h"

namespace testing_support {

namespace {

constexpr unsigned char kLeafTablePage = 0x0D;

unsigned BigEndian16(const std::string& bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) << 8 | static_cast<unsigned char>(bytes[at + 1]);
}

std::string Sqlite3(const std::string& path, const std::string& sql) {
  const RunResult run = Run("/usr/bin/sqlite3", {"-batch", path, sql});
  EXPECT_EQ(run.exit_status, 0) << sql << ": " << run.err;
  return run.out;
}

void LowerCellCount(const std::string& path, const std::string& table) {
  const long root =
      std::stol(Sqlite3(path, "SELECT rootpage FROM sqlite_schema WHERE name = '" + table + "'"));
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

void DamageDatabase(const std::string& path, Damage damage, const std::string& table) {
  switch (damage) {
    case Damage::kLoweredCellCount: LowerCellCount(path, table); return;
    case Damage::kTruncated:
      // Free pages at the end would be cut without harm: none are left.
      Sqlite3(path, "VACUUM");
      std::filesystem::resize_file(path, std::filesystem::file_size(path) - 1000);
      return;
  }
}

std::string QuickCheckOutput(const std::string& path) {
  return Sqlite3(path, "PRAGMA quick_check");
}

}  // namespace testing_support
