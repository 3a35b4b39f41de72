// CatalogSync as the real program: copied into a temporary program folder,
// with a temporary system drive holding the analyser database (the example
// schema with the sample tests).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/catalog_sync/writer_fixture.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace catalog_sync::testing {

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override;

  std::string program() const { return dir_.Sub("program/CatalogSync"); }
  std::string workbook() const { return dir_.Sub("program/CatalogSync.xls"); }
  std::string package() const { return dir_.Sub("program/CatalogSync.dat"); }
  std::string drive() const { return dir_.Sub("drive"); }
  std::string database() const { return drive() + "/Corvista1000/Databases/Corvista1k.mdb"; }
  std::string backup() const { return drive() + "/Corvista1000/Databases/Temp_Corvista1k.mdb"; }
  std::string lock_file() const { return drive() + "/Corvista1000/Databases/Corvista1k.ldb"; }
  std::string marker() const { return drive() + "/CatalogSync.txt"; }

  void WritePackage(const CatalogBuilder& b);
  // The package of an earlier release that a QVR run replaces (one assay,
  // 40 "OLD"); returns its bytes, for checking that a failed run kept it.
  std::string WriteOlderPackage();
  testing_support::RunResult RunProgram(const std::vector<std::string>& args);
  std::int64_t Count(const std::string& sql);
  std::string Text(const std::string& sql);  // the one value of the query, as text
  // The database is the file from before the run, and the run left no copy.
  void ExpectDatabaseUntouched();
  // Leaves the database as a program killed in the middle of a transaction
  // does: a hot journal beside it and the file itself half written (pages
  // spilled from a full cache) over 3,000 committed kits with lot numbers
  // "LOT-<n>", none of them "HALF...". A stale lock file stays as well.
  void LeaveHotJournal();

  testing_support::TempDir dir_;
  std::string before_;
};

}  // namespace catalog_sync::testing
