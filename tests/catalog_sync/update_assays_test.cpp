// The change dispatch on a real database: which assays reach which writer,
// in what order, and the message of the failure that stops the walk.
#include "catalog_sync/run/update_assays.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/catalog_sync/writer_fixture.h"
#include "tests/support/test_support.h"

namespace catalog_sync {
namespace {

using platform::engine::Database;
using testing::CatalogBuilder;
using testing::QueryCount;

class UpdateAssaysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateAnalyserDatabase(dir_.Sub("Corvista1k.mdb"), testing::SampleDataSql());
    state_.sRunKeyword = "INSTALL";
    state_.connection.emplace(Database::Open(dir_.Sub("Corvista1k.mdb")));
  }
  // Runs the walk over the builder's catalogue; the messages land in `err`.
  bool Walk(const CatalogBuilder& b, std::string& err) {
    testing::Catalog c = b.Build();
    state_.colAssay = std::move(c.assays);
    state_.colObjTV = std::move(c.volumes);
    ::testing::internal::CaptureStderr();
    const bool ok = UpdateAssays(state_);
    err = ::testing::internal::GetCapturedStderr();
    return ok;
  }
  std::int64_t Count(const std::string& sql) { return QueryCount(*state_.connection, sql); }

  testing_support::TempDir dir_;
  RunState state_;
};

TEST_F(UpdateAssaysTest, EmptyCatalogueSucceedsWithoutChange) {
  std::string err;
  EXPECT_TRUE(Walk(CatalogBuilder(), err));
  EXPECT_EQ(err, "");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests"), 3);
}

TEST_F(UpdateAssaysTest, TestNumberZeroAndUnknownModesAreSkippedSilently) {
  CatalogBuilder b;
  b.Add(0, "GLU", "DELETE");
  b.Add(1, "GLU", "REPLACE");
  b.Add(2, "CHOL", "");
  b.Add(2, "CHOL", "DELETE ME");
  b.Add(40, "NEW", "add");  // the record normalises the mode
  std::string err;
  EXPECT_TRUE(Walk(b, err));
  EXPECT_EQ(err, "");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID IN (1, 2, 3)"), 3);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Kits"), 4);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 40"), 1);
}

TEST_F(UpdateAssaysTest, DeleteGetsTheNameTrimmedAndUpperCased) {
  CatalogBuilder b;
  b.Add(3, "  alt ", "DELETE");
  std::string err;
  EXPECT_TRUE(Walk(b, err));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 3"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID = 3"), 0);
}

TEST_F(UpdateAssaysTest, DeleteThenAddOfOneTestWritesItAnew) {
  CatalogBuilder b;
  b.Add(3, "ALT", "DELETE");
  b.Add(3, "ALT", "ADD", {10, 0, 0});
  std::string err;
  EXPECT_TRUE(Walk(b, err));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM TestVolumes WHERE TV_TestsID = 3"), 1);
  // A new row: the reporting units come from the assay again.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 3 AND "
                  "Tests_ReportingUnits = 'mg/dL'"),
            1);
}

TEST_F(UpdateAssaysTest, FailureStopsTheWalkAndNamesTheAssay) {
  CatalogBuilder b;
  b.Add(21, "FIRST", "ADD");
  b.Add(22, "FAR TOO LONG", "MODIFY");  // Tests_Name is TEXT(10)
  b.Add(23, "THIRD", "ADD");
  std::string err;
  EXPECT_FALSE(Walk(b, err));
  EXPECT_EQ(err.substr(0, err.find("detail:")),
            "UpdateAssay 22: An unexpected error occurred while running the Catalog Sync.\n"
            "Error Number: 3001 The value does not fit the field\n");
  EXPECT_NE(err.find("detail: assay: position 2, test 22, mode MODIFY\n"), std::string::npos)
      << err;
  EXPECT_NE(err.find("detail: table: Tests\n"), std::string::npos) << err;
  EXPECT_NE(err.find("detail: column: Tests_Name\n"), std::string::npos) << err;
  EXPECT_NE(err.find("detail: value: \"FAR TOO LONG\"\n"), std::string::npos) << err;
  // The walk does not undo: assay 1 is in, assay 3 was never looked at.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 21"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID IN (22, 23)"), 0);
}

}  // namespace
}  // namespace catalog_sync
