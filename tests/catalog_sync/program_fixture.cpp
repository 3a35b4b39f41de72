#include "tests/catalog_sync/program_fixture.h"

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

testing_support::RunResult ProgramTest::RunProgram(const std::vector<std::string>& args) {
  return testing_support::Run(program(), args, {{"SYSTEM_DRIVE", drive()}});
}

std::int64_t ProgramTest::Count(const std::string& sql) {
  Database db = Database::Open(database());
  return QueryCount(db, sql);
}

void ProgramTest::ExpectDatabaseUntouched() {
  EXPECT_TRUE(ReadFile(database()) == before_) << "the database file changed";
  EXPECT_FALSE(Exists(database() + "-journal"));
  EXPECT_FALSE(Exists(lock_file()));
}

}  // namespace catalog_sync::testing
