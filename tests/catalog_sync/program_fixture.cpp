#include "tests/catalog_sync/program_fixture.h"

#include <optional>

#include "catalog_sync/records/file_manager.h"
#include "platform/engine/database.h"

namespace catalog_sync::testing {

using platform::engine::Database;
using testing_support::Exists;
using testing_support::ReadFile;

void ProgramTest::SetUp() {
  testing_support::MakeFolders(dir_.Sub("drive/Corvista1000/Databases"));
  testing_support::MakeFolders(dir_.Sub("program"));
  testing_support::CopyFile(testing_support::BinaryFromEnv("CATALOGSYNC_BIN"), program());
  testing_support::ChmodFile(program(), 0755);
  CreateAnalyserDatabase(database(), SampleDataSql());
  before_ = ReadFile(database());
}

void ProgramTest::WritePackage(const CatalogBuilder& b) {
  const Catalog c = b.Build();
  FileManager(package()).WriteProperties(c.assays, c.volumes);
}

std::string ProgramTest::WriteOlderPackage() {
  CatalogBuilder b;
  b.Add(40, "OLD", "ADD");
  WritePackage(b);
  return ReadFile(package());
}

testing_support::RunResult ProgramTest::RunProgram(const std::vector<std::string>& args) {
  return testing_support::Run(program(), args, {{"SYSTEM_DRIVE", drive()}});
}

std::int64_t ProgramTest::Count(const std::string& sql) {
  Database db = Database::Open(database());
  return QueryCount(db, sql);
}

std::string ProgramTest::Text(const std::string& sql) {
  Database db = Database::Open(database());
  return QueryValue(db, sql).ToText();
}

void ProgramTest::ExpectDatabaseUntouched() {
  EXPECT_TRUE(ReadFile(database()) == before_) << "the database file changed";
  EXPECT_FALSE(Exists(database() + "-journal"));
  EXPECT_FALSE(Exists(lock_file()));
}

void ProgramTest::LeaveHotJournal() {
  {
    Database db = Database::Open(database());
    db.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) SELECT 9, 'LOT-' || i FROM n");
  }
  const std::string committed = ReadFile(database());
  std::optional<Database> killed;  // stays open in the child
  testing_support::RunInKilledChild([&] {
    killed.emplace(Database::Open(database()));
    killed->Exec(
        "PRAGMA cache_size = 1; BEGIN;"
        "UPDATE Kits SET Kits_LotNumber = 'HALF-WRITTEN-' || Kits_ID;");
  });
  ASSERT_TRUE(Exists(database() + "-journal")) << "no hot journal was left";
  ASSERT_FALSE(ReadFile(database()) == committed) << "the database file was not half written";
}

}  // namespace catalog_sync::testing
