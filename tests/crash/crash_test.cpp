// Crash campaigns of CatalogSync INSTALL, CatalogSync QVR and Reshaper: each
// run is killed before file-changing calls spread over it (kill_points.h);
// after every kill the files must be sound and a rerun must finish the job.
//
// CRASH_POINTS (default 6) sets the kill points per program, CRASH_ASSAYS
// (default 300) the size of the catalogue and of the upgraded database;
// `make crashtest` runs 250 points on 5,000 assays.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "catalog_sync/records/file_manager.h"
#include "platform/core/error.h"
#include "platform/engine/database.h"
#include "tests/catalog_sync/writer_fixture.h"
#include "tests/crash/crash_campaign.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace crash {
namespace {

namespace fs = std::filesystem;
using catalog_sync::testing::CatalogBuilder;
using catalog_sync::testing::ExistingTestsSql;
using testing_support::CopyFile;
using testing_support::Exists;
using testing_support::ReadFile;

const char kUnsound[] = "unsound: ";

// Integrity, schema and rows of the database file; what a program that opens
// it next meets, after SQLite has rolled back a journal left by a crash.
std::string StateOf(const std::string& path) {
  if (!Exists(path)) return std::string(kUnsound) + "the database file is missing";
  try {
    platform::engine::Database db = platform::engine::Database::Open(path);
    const std::string integrity = db.Query("PRAGMA integrity_check").rows.at(0).at(0).ToText();
    if (integrity != "ok") return kUnsound + integrity;
    std::string state;
    for (const auto& row :
         db.Query("SELECT type, name, sql FROM sqlite_master ORDER BY 1, 2").rows) {
      for (const auto& field : row) state += field.Describe() + "|";
      state += "\n";
    }
    db.Close();
    return state + catalog_sync::testing::DumpDatabase(path);
  } catch (const platform::Error& e) {
    return kUnsound + e.description();
  }
}

constexpr int kFirstBulkTest = 100;

// The system drive and program folder of one program, kept for a campaign.
class Sandbox : public Scenario {
 protected:
  Sandbox(const char* binary_variable, const std::string& binary_name) {
    testing_support::MakeFolders(databases());
    testing_support::MakeFolders(dir_.Sub("drive/Corvista1000/Logs"));
    testing_support::MakeFolders(program_folder());
    program_ = program_folder() + "/" + binary_name;
    CopyFile(testing_support::BinaryFromEnv(binary_variable), program_);
    testing_support::ChmodFile(program_, 0755);
    marker_ = drive() + "/" + binary_name + ".txt";
  }

  std::string drive() const { return dir_.Sub("drive"); }
  std::string databases() const { return dir_.Sub("drive/Corvista1000/Databases"); }
  std::string database() const { return databases() + "/Corvista1k.mdb"; }
  std::string program_folder() const { return dir_.Sub("program"); }
  std::string fixture() const { return dir_.Sub("fixture.mdb"); }
  std::string package() const { return program_folder() + "/CatalogSync.dat"; }

  // LeakSanitizer cannot work in a traced process (it traces the process
  // itself at exit); the programs' leaks are checked by their other tests.
  Command CommandWith(const std::string& args) const {
    return {program_, {args}, {{"SYSTEM_DRIVE", drive()}, {"ASAN_OPTIONS", "detect_leaks=0"}}};
  }

  // The database from the fixture, nothing beside it, no marker, no log: every
  // run then makes the same file changes (a log's first line also syncs its
  // folder), and a kill point of the counting run is one of every run.
  void ResetDatabase() {
    for (const auto& entry : fs::directory_iterator(databases())) fs::remove(entry.path());
    fs::remove(marker_);
    fs::remove(dir_.Sub("drive/Corvista1000/Logs/QVRInstall.log"));
    CopyFile(fixture(), database());
  }

  // A marker only after a run that had finished its changes.
  std::string CheckMarker(const std::string& state, const std::string& after) const {
    return Exists(marker_) && state != after ? "a completion marker, but the run had not finished"
                                             : "";
  }

 public:
  std::string DatabaseState() const override { return StateOf(database()); }

  std::vector<std::string> FolderListing() const override {
    std::vector<std::string> names;
    for (const auto& folder : {drive(), databases(), program_folder()}) {
      for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.is_directory())
          names.push_back(entry.path().string().substr(dir_.path().size()));
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  testing_support::TempDir dir_;
  std::string program_, marker_;
};

// CatalogSync INSTALL of `assays` assays: a quarter deleted by name, a quarter
// modified, the rest added, half of those over existing tests.
class CatalogInstall : public Sandbox {
 public:
  explicit CatalogInstall(int assays) : Sandbox("CATALOGSYNC_BIN", "CatalogSync"), assays_(assays) {
    catalog_sync::testing::CreateAnalyserDatabase(
        fixture(),
        catalog_sync::testing::SampleDataSql() + ExistingTestsSql(kFirstBulkTest, assays * 3 / 4));
    CatalogBuilder catalog;
    static const char* const kModes[] = {"DELETE", "MODIFY", "ADD", "ADD"};
    for (int i = 0; i < assays; ++i) {
      const auto number = static_cast<std::int16_t>(kFirstBulkTest + i);
      catalog.Add(number, "T" + std::to_string(number), kModes[i % 4], {100, 40 * (i % 2), 0});
    }
    const catalog_sync::testing::Catalog c = catalog.Build();
    catalog_sync::FileManager(package()).WriteProperties(c.assays, c.volumes);
    package_bytes_ = ReadFile(package());
  }

  std::string Title() const override {
    return "CatalogSync INSTALL (" + std::to_string(assays_) + " assays)";
  }
  Command RunCommand() const override { return CommandWith("INSTALL"); }
  void Reset() override { ResetDatabase(); }

  std::string CheckAfterKill(const std::string& state, const std::string& before,
                             const std::string& after) const override {
    if (state != before && state != after) return "the database is neither as before nor as after";
    if (ReadFile(package()) != package_bytes_) return "the package file changed";
    return CheckMarker(state, after);
  }

 private:
  int assays_;
  std::string package_bytes_;
};

// The bytes of the gzip file `path`.
std::string Gunzip(const std::string& path) {
  gzFile in = gzopen(path.c_str(), "rb");
  if (!in) throw std::runtime_error("cannot open " + path);
  std::string bytes;
  char buf[1 << 16];
  int n = 0;
  while ((n = gzread(in, buf, sizeof buf)) > 0) bytes.append(buf, static_cast<std::size_t>(n));
  gzclose(in);
  if (n < 0) throw std::runtime_error("cannot read " + path);
  return bytes;
}

// CatalogSync QVR of a 500-sheet workbook (the benchmark's, 441 tests) into a
// database grown by `tests` tests, over an older package file: the package is
// the old or the new one whole, never a mix.
class CatalogQvr : public Sandbox {
 public:
  explicit CatalogQvr(int tests) : Sandbox("CATALOGSYNC_BIN", "CatalogSync"), tests_(tests) {
    catalog_sync::testing::CreateAnalyserDatabase(
        fixture(),
        catalog_sync::testing::SampleDataSql() + ExistingTestsSql(kFirstBulkTest, tests));
    testing_support::WriteFile(
        program_folder() + "/CatalogSync.xls",
        Gunzip(testing_support::SourceDir() + "/bench/workbook_import/catalog-500.xls.gz"));
    CatalogBuilder old_catalog;
    old_catalog.Add(7, "OLD", "ADD");
    const catalog_sync::testing::Catalog c = old_catalog.Build();
    catalog_sync::FileManager(package()).WriteProperties(c.assays, c.volumes);
    old_package_ = ReadFile(package());
  }

  std::string Title() const override {
    return "CatalogSync QVR (500 sheets, " + std::to_string(tests_) + " tests)";
  }
  Command RunCommand() const override { return CommandWith("QVR"); }
  void Reset() override {
    ResetDatabase();
    testing_support::WriteFile(package(), old_package_);
  }
  void RecordWholeRun() override { new_package_ = ReadFile(package()); }

  std::string CheckAfterKill(const std::string& state, const std::string& before,
                             const std::string& after) const override {
    if (state != before && state != after) return "the database is neither as before nor as after";
    const std::string package_bytes = ReadFile(package());
    if (package_bytes != old_package_ && package_bytes != new_package_) {
      return "the package file is neither the old nor the new one";
    }
    if (state == after && package_bytes != new_package_) {
      return "the database was changed from a package that was not written";
    }
    return CheckMarker(state, after);
  }

 private:
  int tests_;
  std::string old_package_, new_package_;
};

// Reshaper INSTALL,QUERY,STRUCTURE,VERSION with the example install shell on
// the sample database grown by `tests` tests. Nothing of an upgrade is rolled
// back, so a crash may leave it half done; the file must stay sound and the
// rerun must finish it.
class ReshaperUpgrade : public Sandbox {
 public:
  explicit ReshaperUpgrade(int tests) : Sandbox("RESHAPER_BIN", "Reshaper"), tests_(tests) {
    catalog_sync::testing::CreateAnalyserDatabase(
        fixture(),
        catalog_sync::testing::SampleDataSql() + ExistingTestsSql(kFirstBulkTest, tests));
    const std::string examples = testing_support::SourceDir() + "/examples/";
    platform::engine::Database shell =
        platform::engine::Database::Create(program_folder() + "/InstallShell.mdb");
    shell.Exec(ReadFile(examples + "analyser-schema.sql"));
    shell.Exec(ReadFile(examples + "InstallShell.sql"));
  }

  std::string Title() const override {
    return "Reshaper INSTALL,QUERY,STRUCTURE,VERSION (" + std::to_string(tests_) + " tests)";
  }
  Command RunCommand() const override { return CommandWith("INSTALL,QUERY,STRUCTURE,VERSION"); }
  void Reset() override { ResetDatabase(); }

  std::string CheckAfterKill(const std::string& state, const std::string&,
                             const std::string& after) const override {
    if (state.starts_with(kUnsound)) return state;
    return CheckMarker(state, after);
  }

 private:
  int tests_;
};

void ExpectEveryKillConsistent(Scenario&& scenario) {
  const CampaignResult result =
      RunCampaign(scenario, testing_support::IntSetting("CRASH_POINTS", 6));
  std::cout << Summary(scenario, result) << "\n";
  for (const auto& failure : result.failures) ADD_FAILURE() << failure;
}

TEST(CrashTest, CatalogSyncInstall) {
  ExpectEveryKillConsistent(CatalogInstall(testing_support::IntSetting("CRASH_ASSAYS", 300)));
}

TEST(CrashTest, CatalogSyncQvr) {
  ExpectEveryKillConsistent(CatalogQvr(2 * testing_support::IntSetting("CRASH_ASSAYS", 300)));
}

TEST(CrashTest, Reshaper) {
  ExpectEveryKillConsistent(ReshaperUpgrade(testing_support::IntSetting("CRASH_ASSAYS", 300)));
}

}  // namespace
}  // namespace crash
