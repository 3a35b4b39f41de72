// CatalogSync as the real program under faults of the machine: a read-only
// database folder or file (read-only by its mode bits, which root, as whom
// the tests and the programs run, is held to as well), a hot journal that cannot be rolled back, a
// backup copy that cannot be written, a disk that fills up during the backup
// copy or the package write, a database that is no database. Every case
// first shows that its fault fired (the system's or the engine's own words
// in the message or a `detail:` line), then that the run failed with the
// box the operator is owed and lost nothing: the database byte for byte as
// before, the package file old or new but whole, no backup copy, no
// temporary file, no completion marker.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "catalog_sync/records/file_manager.h"
#include "tests/catalog_sync/program_fixture.h"
#include "tests/support/databases.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace catalog_sync {
namespace {

namespace fs = std::filesystem;
using testing::CatalogBuilder;
using testing::ProgramTest;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::ScopedMount;

enum class Fault {
  kReadOnlyDatabaseFolder,
  kHotJournalInReadOnlyFolder,
  kHotJournalOfReadOnlyDatabase,
  kReadOnlyDatabaseMode,
  kFolderAtBackupPath,
  kFullDiskAtBackup,
  kFullDiskAtPackage,
  kTextAsDatabase,
  kLoweredCellCount,
  kTruncatedDatabase,
};

struct FaultCase {
  const char* name;
  Fault fault;
  const char* keyword;
  std::string box;         // title and prompt, as standard error shows them
  const char* proof;       // a line that only the fault gives: the system's or engine's words
  bool package_rewritten;  // the workbook was read whole before the fault
  // The detail that names the file at fault: what, and the path under the
  // test's folder.
  const char* what;
  const char* file;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

// The box of a database that cannot be opened, and the general box, for an
// error "<number> <description>".
std::string OpenFailed(const std::string& error) {
  return "Open Connection: The following error occured while opening the database\nError "
         "Number: " +
         error + "\n";
}
std::string Unexpected(const std::string& title, const std::string& error) {
  return title +
         ": An unexpected error occurred while running the Catalog Sync.\nError Number: " + error +
         "\n";
}

// five-sheets.xls holds four assays; the last sheet's test number is 30.
constexpr int kWorkbookAssays = 4;

class FaultTest : public ProgramTest {
 protected:
  std::string databases() const { return drive() + "/Corvista1000/Databases"; }
  std::string program_folder() const { return dir_.Sub("program"); }

  static ScopedMount SmallDisk(const std::string& folder, std::size_t free_bytes) {
    ScopedMount mount = ScopedMount::Tmpfs(folder, std::size_t{1} << 28);
    if (mount.mounted()) {
      EXPECT_TRUE(mount.LeaveFree(free_bytes)) << mount.failure();
    }
    return mount;
  }

  int PackageAssays() {
    testing::Catalog c;
    platform::Error failure(0, "");
    EXPECT_TRUE(FileManager(package()).ReadProperties(c.assays, c.volumes, &failure))
        << failure.description();
    return c.assays.Count();
  }

  static void ExpectNoTemporaryFile(const std::string& folder) {
    EXPECT_TRUE(testing_support::TemporaryFilesIn(folder).empty()) << "left behind in " << folder;
  }

  // Every line from `offset` on is a `detail:` line, and there is one at
  // least.
  static void ExpectDetailsAfter(const std::string& err, std::size_t offset) {
    std::istringstream rest(err.substr(offset));
    int details = 0;
    for (std::string line; std::getline(rest, line); ++details) {
      EXPECT_EQ(line.rfind("detail: ", 0), 0u) << line;
    }
    EXPECT_GT(details, 0);
  }
};

class CatalogSyncFaultTest : public FaultTest, public ::testing::WithParamInterface<FaultCase> {
 protected:
  // A damaged database, which SQLite's own tool shows to be damaged.
  std::optional<ScopedMount> Damage(testing_support::Damage damage) {
    testing_support::DamageDatabase(database(), damage);
    EXPECT_NE(testing_support::QuickCheckOutput(database()), "ok\n");
    return std::nullopt;
  }

  // Lays out the files of the fault and mounts what it needs; none for the
  // faults that plain files make.
  std::optional<ScopedMount> Arrange(Fault fault) {
    switch (fault) {
      case Fault::kReadOnlyDatabaseFolder: return ScopedMount::ReadOnly(databases());
      case Fault::kHotJournalInReadOnlyFolder:
        LeaveHotJournal();
        return ScopedMount::ReadOnly(databases());
      case Fault::kHotJournalOfReadOnlyDatabase:
        LeaveHotJournal();
        return ScopedMount::ReadOnly(database());
      case Fault::kReadOnlyDatabaseMode:
        testing_support::ChmodFile(database(), 0444);
        return std::nullopt;
      case Fault::kFolderAtBackupPath: testing_support::MakeFolders(backup()); return std::nullopt;
      case Fault::kFullDiskAtBackup: return SmallDisk(databases(), before_.size() / 2);
      case Fault::kFullDiskAtPackage:
        // Less than the new package, which is four times the old one.
        return SmallDisk(program_folder(), ReadFile(package()).size());
      case Fault::kTextAsDatabase:
        testing_support::WriteFile(database(), "Tests;GLU;CHOL\n");
        return std::nullopt;
      case Fault::kLoweredCellCount: return Damage(testing_support::Damage::kLoweredCellCount);
      case Fault::kTruncatedDatabase: return Damage(testing_support::Damage::kTruncated);
    }
    return std::nullopt;
  }
};

TEST_P(CatalogSyncFaultTest, FailsWithItsBoxAndLosesNothing) {
  const FaultCase& c = GetParam();
  const std::string old_package = WriteOlderPackage();
  testing_support::CopyFile(testing_support::SourceDir() + "/tests/fixtures/import/five-sheets.xls",
                            workbook());
  testing_support::WriteFile(marker(), "");
  RunResult r;
  {
    std::optional<ScopedMount> mount = Arrange(c.fault);
    ASSERT_FALSE(HasFatalFailure());
    if (mount) {
      SKIP_UNLESS_MOUNTED(*mount);
    }
    before_ = ReadFile(database());
    r = RunProgram({c.keyword});
  }
  ASSERT_NE(r.err.find(std::string("\n") + c.proof + "\n"), std::string::npos)
      << "the fault did not fire: " << r.err;
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind(c.box, 0), 0u) << r.err;
  ExpectDetailsAfter(r.err, c.box.size());
  EXPECT_NE(r.err.find(std::string("\ndetail: ") + c.what + ": " + dir_.Sub(c.file) + "\n"),
            std::string::npos)
      << r.err;

  EXPECT_TRUE(ReadFile(database()) == before_) << "the database file changed";
  const bool hot_journal = c.fault == Fault::kHotJournalInReadOnlyFolder ||
                           c.fault == Fault::kHotJournalOfReadOnlyDatabase;
  EXPECT_EQ(Exists(database() + "-journal"), hot_journal);  // a journal is never deleted
  const bool damaged = c.fault == Fault::kLoweredCellCount || c.fault == Fault::kTruncatedDatabase;
  EXPECT_EQ(r.err.find("\ndetail: problem: ") != std::string::npos, damaged) << r.err;
  EXPECT_FALSE(fs::is_regular_file(backup()));
  EXPECT_FALSE(Exists(marker()));
  if (c.package_rewritten) {
    EXPECT_NE(ReadFile(package()), old_package);
    EXPECT_EQ(PackageAssays(), kWorkbookAssays);
  } else {
    EXPECT_EQ(ReadFile(package()), old_package);
  }
  ExpectNoTemporaryFile(databases());
  ExpectNoTemporaryFile(program_folder());
}

// A read-only folder refuses the lock file before the engine sees the
// database, so a hot journal there fails the run as the folder alone does;
// only a read-only database file beside a writable folder lets the engine
// meet the journal it cannot roll back (SQLITE_READONLY_ROLLBACK, 776).
constexpr const char* kLock = "drive/Corvista1000/Databases/Corvista1k.ldb";
constexpr const char* kDatabase = "drive/Corvista1000/Databases/Corvista1k.mdb";
constexpr const char* kBackup = "drive/Corvista1000/Databases/Temp_Corvista1k.mdb";
constexpr const char* kReadOnlyLock = "detail: system: open lock file: Read-only file system";
constexpr const char* kNoSpace = "detail: system: write: No space left on device";
constexpr const char* kMalformed = "Error Number: 11 database disk image is malformed";

INSTANTIATE_TEST_SUITE_P(
    Faults, CatalogSyncFaultTest,
    ::testing::Values(
        FaultCase{"ReadOnlyFolderInstall", Fault::kReadOnlyDatabaseFolder, "INSTALL",
                  OpenFailed("70 Permission denied"), kReadOnlyLock, false, "file", kLock},
        FaultCase{"ReadOnlyFolderQvr", Fault::kReadOnlyDatabaseFolder, "QVR",
                  OpenFailed("70 Permission denied"), kReadOnlyLock, true, "file", kLock},
        FaultCase{"HotJournalInReadOnlyFolder", Fault::kHotJournalInReadOnlyFolder, "INSTALL",
                  OpenFailed("70 Permission denied"), kReadOnlyLock, false, "file", kLock},
        FaultCase{"HotJournalOfReadOnlyDatabase", Fault::kHotJournalOfReadOnlyDatabase, "INSTALL",
                  OpenFailed("776 attempt to write a readonly database"),
                  "Error Number: 776 attempt to write a readonly database", false, "database",
                  kDatabase},
        // The engine refuses the first write, as the kernel does for a user
        // without write permission: no backup copy is left behind.
        FaultCase{"ReadOnlyDatabaseMode", Fault::kReadOnlyDatabaseMode, "INSTALL",
                  Unexpected("UpdateAssay 40", "8 attempt to write a readonly database"),
                  "detail: assay: position 1, test 40, mode ADD", false, "read-only",
                  "drive/Corvista1000/Databases/Corvista1k.mdb (mode 0444)"},
        FaultCase{"FolderAtBackupPath", Fault::kFolderAtBackupPath, "INSTALL",
                  Unexpected("Catalog Sync", "14 unable to open database file"),
                  "Error Number: 14 unable to open database file", false, "destination", kBackup},
        FaultCase{"FullDiskAtBackup", Fault::kFullDiskAtBackup, "INSTALL",
                  Unexpected("Catalog Sync", "13 database or disk is full"),
                  "Error Number: 13 database or disk is full", false, "destination", kBackup},
        FaultCase{"FullDiskAtPackage", Fault::kFullDiskAtPackage, "QVR",
                  Unexpected("ImportData30", "61 Disk full"), kNoSpace, false, "file",
                  "program/CatalogSync.dat"},
        FaultCase{"TextAsDatabaseQvr", Fault::kTextAsDatabase, "QVR",
                  OpenFailed("26 file is not a database"),
                  "Error Number: 26 file is not a database", true, "database", kDatabase},
        // Checked before the backup copy, which would otherwise carry the
        // damage, and before the walk writes into it.
        FaultCase{"LoweredCellCountInstall", Fault::kLoweredCellCount, "INSTALL",
                  Unexpected("Catalog Sync", "11 database disk image is malformed"), kMalformed,
                  false, "database", kDatabase},
        FaultCase{"TruncatedDatabaseQvr", Fault::kTruncatedDatabase, "QVR",
                  Unexpected("Catalog Sync", "11 database disk image is malformed"), kMalformed,
                  true, "database", kDatabase}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// A program killed in the middle of a transaction leaves a hot journal beside
// a half-written database. The run must take its backup copy only after that
// journal has been rolled back: a copy of the half-written file would,
// restored, be a damaged database.
TEST_F(FaultTest, HotJournalIsRolledBackBeforeTheBackupCopy) {
  ASSERT_NO_FATAL_FAILURE(LeaveHotJournal());
  CatalogBuilder b;
  b.Add(40, "NEW", "ADD");
  b.Add(41, "FAR TOO LONG", "ADD");
  WritePackage(b);
  const RunResult r = RunProgram({"INSTALL"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind("UpdateAssay 41:", 0), 0u) << r.err;
  EXPECT_FALSE(Exists(backup()));
  EXPECT_EQ(Text("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Kits WHERE Kits_LotNumber LIKE 'HALF%'"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Kits"), 3004);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Tests WHERE Tests_ID = 40"), 0);
}

// The disk fills up while the assays are written: the engine's failure stops
// the walk, whose transaction is rolled back; the backup copy is not needed
// and goes.
TEST_F(FaultTest, FullDiskDuringTheChangesIsRolledBack) {
  CatalogBuilder b;
  for (std::int16_t n = 40; n < 240; ++n) b.Add(n, "T" + std::to_string(n), "ADD");
  WritePackage(b);
  testing_support::WriteFile(marker(), "");
  RunResult r;
  {
    const ScopedMount mount = SmallDisk(databases(), before_.size() * 3 / 2);
    SKIP_UNLESS_MOUNTED(mount);
    r = RunProgram({"INSTALL"});
  }
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind(Unexpected("UpdateAssay 40", "13 database or disk is full") +
                            "detail: assay: position 1, test 40, mode ADD\n",
                        0),
            0u)
      << r.err;
  EXPECT_TRUE(r.err.ends_with("\ndetail: database: rolled back to its state before the run\n"))
      << r.err;
  EXPECT_TRUE(ReadFile(database()) == before_) << "the database file changed";
  EXPECT_FALSE(Exists(backup()));
  EXPECT_FALSE(Exists(database() + "-journal"));
  EXPECT_FALSE(Exists(marker()));
  ExpectNoTemporaryFile(databases());
}

}  // namespace
}  // namespace catalog_sync
