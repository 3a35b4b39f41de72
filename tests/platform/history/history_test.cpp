// The change history's file: sealing and verifying the chain, what tampering it shows, the
// writer's refusals, records that share the analyser database's transactions, and values and
// keys as they round-trip.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "platform/engine/database.h"
#include "platform/engine/snapshot.h"
#include "platform/history/digest.h"
#include "platform/history/reader.h"
#include "platform/history/writer.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace platform::history {
namespace {

using engine::Database;
using namespace testing_support;

RunHeader Header(const std::string& program) {
  RunHeader header;
  header.program = program;
  header.version = "1.0.0";
  header.command_line = "INSTALL";
  header.started_utc = "2026-12-09T04:21:07Z";
  header.utc_offset = "+01:00";
  header.user = "root";
  header.sudo_user = "operator";
  header.host = "analyser";
  header.database = "/srv/analyser/Corvista1000/Databases/Corvista1k.mdb";
  header.source = "/usr/lib/corvista1000/CatalogSync.dat";
  header.source_size = 1234;
  header.source_sha256 = Sha256Hex("package");
  return header;
}

Change RowChange(const std::string& group, ChangeKind kind, const std::string& key,
                 std::vector<ColumnChange> columns) {
  return Change{group, kind, "Tests", key, std::move(columns)};
}

RunEnd Succeeded() {
  return RunEnd{"2026-12-09T04:22:00Z", true, 0, ""};
}

// One sealed run with `changes` recorded in two parts on the writer's own connection.
std::string SealedRun(const std::string& path, const std::string& program,
                      const std::vector<Change>& changes) {
  HistoryWriter writer(path, Header(program));
  const auto half = changes.begin() + static_cast<std::ptrdiff_t>(changes.size() / 2);
  writer.Record({changes.begin(), half});
  writer.Record({half, changes.end()});
  return writer.Seal(Succeeded());
}

std::vector<Change> GlucoseChanges(int n) {
  std::vector<Change> changes;
  for (int i = 0; i < n; ++i) {
    changes.push_back(RowChange(
        "assay " + std::to_string(100 + i), ChangeKind::kUpdate,
        "Tests_ID=" + std::to_string(100 + i),
        {{"Tests_Name", Value("GLU"), Value("GLUC")}, {"Factor", Value(1.5), Value(2.25)}}));
  }
  return changes;
}

std::string Verdict(const std::string& path) {
  const HistoryReader::Verdict v = HistoryReader(path).Verify();
  std::string text = std::to_string(v.sealed) + " sealed";
  for (const std::int64_t run : v.unfinished) text += ", " + std::to_string(run) + " unfinished";
  if (v.broken_run) text += ", " + std::to_string(*v.broken_run) + " broken: " + v.broken_reason;
  return text;
}

// Each change to a sealed run's stored record, made with plain SQL on the file, breaks that
// run (the second of three) and no other.
TEST(HistoryChain, VerifyNamesTheRunThatWasChanged) {
  TempDir dir;
  const std::string pristine = dir.Sub("pristine.db");
  std::vector<std::string> hashes;
  for (const char* program : {"CatalogSync", "Reshaper", "CatalogSync"}) {
    hashes.push_back(SealedRun(pristine, program, GlucoseChanges(3)));
  }
  ASSERT_EQ(Verdict(pristine), "3 sealed");
  const HistoryReader::Verdict holds = HistoryReader(pristine).Verify();
  EXPECT_TRUE(holds.unfinished.empty() && !holds.broken_run);
  EXPECT_EQ(HistoryReader(pristine).Read(3)->seal->previous_hash, hashes[1]);

  const std::string content = "2 broken: the run's record does not match its hash";
  const std::string chain =
      "2 broken: its previous hash is not the hash of the run sealed before it";
  const struct {
    const char* what;
    std::string sql, verdict;
  } cases[] = {
      {"a value",
       "UPDATE Changes SET Body = CAST(replace(CAST(Body AS TEXT), 'GLUC', 'GLUX') AS BLOB) "
       "WHERE Id = (2 << 32) + 2",
       content},
      {"a key",
       "UPDATE Changes SET Body = CAST(replace(CAST(Body AS TEXT), 'Tests_ID=101', "
       "'Tests_ID=999') AS BLOB) WHERE Id = (2 << 32) + 2",
       content},
      {"a group", "UPDATE Changes SET GroupName = 'assay 999' WHERE Id = (2 << 32) + 1", content},
      {"a change count", "UPDATE Changes SET ChangeCount = 7 WHERE Id = (2 << 32) + 1", content},
      {"a column name",
       "UPDATE ColumnLists SET Names = CAST(replace(CAST(Names AS TEXT), 'Factor', 'Fuctor') AS "
       "BLOB) WHERE Id = (2 << 32) + 1",
       content},
      {"a column list's object", "UPDATE ColumnLists SET Object = 'Tasts' WHERE Id >> 32 = 2",
       content},
      {"a column list renumbered", "UPDATE ColumnLists SET Id = Id + 1 WHERE Id = (2 << 32) + 1",
       content},
      {"a start time", "UPDATE Runs SET StartedUtc = '2026-12-08T04:21:07Z' WHERE Number = 2",
       content},
      {"an end time", "UPDATE Seals SET EndedUtc = '2026-12-10T00:00:00Z' WHERE Run = 2", content},
      {"a user", "UPDATE Runs SET User = 'nobody' WHERE Number = 2", content},
      {"a message", "UPDATE Seals SET Message = 'All is well' WHERE Run = 2", content},
      {"a hash", "UPDATE Seals SET Hash = '" + hashes[0] + "' WHERE Run = 2", content},
      {"a previous hash", "UPDATE Seals SET PreviousHash = '" + hashes[2] + "' WHERE Run = 2",
       chain},
      {"a change deleted", "DELETE FROM Changes WHERE Id = (2 << 32) + 3", content},
      {"a change added",
       "INSERT INTO Changes SELECT Id + 3, GroupName, ChangeCount, Body FROM Changes "
       "WHERE Id = (2 << 32) + 1",
       content},
      // Rows 1, 2, 3 become 3, 2, 1.
      {"changes reordered",
       "UPDATE Changes SET Id = -Id WHERE Id >> 32 = 2; UPDATE Changes SET Id = (4 << 32) + 4 + Id "
       "WHERE Id < 0",
       content},
      {"a header deleted", "DELETE FROM Runs WHERE Number = 2",
       "2 broken: the run's header is missing"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.Sub(std::string(c.what) + ".db");
    CopyFile(pristine, path);
    ASSERT_EQ(Sqlite3(path, c.sql).err, "") << c.what;
    EXPECT_EQ(Verdict(path), c.verdict.empty() ? "" : "2 sealed, " + c.verdict) << c.what;
  }
}

// A run killed before its seal leaves its header and changes, unfinished; the chain of the
// runs sealed around it holds, and so it does over a thousand runs.
TEST(HistoryChain, KilledRunIsUnfinishedAndTheChainHolds) {
  TempDir dir("/dev/shm");  // some 3,000 commits: on tmpfs their syncs cost nothing
  const std::string path = dir.Sub("ChangeHistory.db");
  // Killed between creating the file and committing its schema: an empty file, no record.
  WriteFile(path, "");
  EXPECT_EQ(Verdict(path), "0 sealed");
  EXPECT_TRUE(HistoryReader(path).List().empty() && !HistoryReader(path).Read(1));
  SealedRun(path, "CatalogSync", GlucoseChanges(2));
  RunInKilledChild([&] {
    HistoryWriter writer(path, Header("Reshaper"));
    writer.Record(GlucoseChanges(2));
  });
  SealedRun(path, "CatalogSync", {});
  EXPECT_EQ(Verdict(path), "2 sealed, 2 unfinished");
  const std::optional<RunRecord> killed = HistoryReader(path).Read(2);
  ASSERT_TRUE(killed.has_value());
  EXPECT_TRUE(killed->changes.size() == 2 && !killed->seal);
  const std::vector<RunSummary> runs = HistoryReader(path).List();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_TRUE(runs[0].end && !runs[1].end && runs[2].end && runs[2].changes == 0);
  EXPECT_EQ(runs[1].changes, 2);
  EXPECT_EQ(runs[1].header, Header("Reshaper"));

  for (int i = 0; i < 997; ++i) {
    HistoryWriter writer(path, Header("Reshaper"));
    if (i % 2 == 0) writer.Record(GlucoseChanges(1));
    writer.Seal(Succeeded());
  }
  EXPECT_EQ(Verdict(path), "999 sealed, 2 unfinished");
}

// A history that cannot be written fails the writer before any change, with its cause and
// the history's path.
TEST(HistoryWriter, RefusesAHistoryItCannotWrite) {
  TempDir dir;
  const std::string other = dir.Sub("other.db");
  WriteFile(other, "");
  const struct {
    const char* what;
    std::function<void(const std::string&)> make;
    long number;
    std::string detail;  // "<what>=<value>" with {} for the path
  } cases[] = {
      {"read-only by its mode",
       [](const std::string& path) {
         SealedRun(path, "CatalogSync", {});
         ChmodFile(path, 0444);
       },
       8, "read-only={} (mode 0444)"},
      {"a folder", [](const std::string& path) { MakeFolders(path); }, 57,
       "system=not a regular file: a folder"},
      {"a symbolic link",
       [&](const std::string& path) { ASSERT_EQ(::symlink(other.c_str(), path.c_str()), 0); }, 57,
       "link to=" + other},
      {"a damaged file", [](const std::string& path) { WriteFile(path, std::string(4096, 'x')); },
       26, ""},
  };
  for (const auto& c : cases) {
    const std::string path = dir.Sub(std::string(c.what) + ".db");
    c.make(path);
    const Error e = ErrorOf([&] { HistoryWriter(path, Header("CatalogSync")); });
    std::string detail = c.detail;  // a copy: {} is filled in
    if (const auto at = detail.find("{}"); at != std::string::npos) detail.replace(at, 2, path);
    const auto equals = detail.find('=');
    EXPECT_EQ(e.number(), c.number) << c.what << ": " << e.what();
    EXPECT_EQ(DetailOf(e, "history"), path) << c.what;
    if (!detail.empty()) {
      EXPECT_EQ(DetailOf(e, detail.substr(0, equals)), detail.substr(equals + 1)) << c.what;
    }
  }
  EXPECT_EQ(ReadFile(other), "");  // not written through the link
}

// A run that starts now: its source's size and SHA-256, read meanwhile, are its header's; a
// source that cannot be opened fails the writer, naming the history.
TEST(HistoryWriter, ReadsTheSourceWhileTheRunGoesOn) {
  TempDir dir;
  const std::string path = dir.Sub("ChangeHistory.db");
  const std::string source = dir.Sub("CatalogSync.dat");
  WriteFile(source, std::string(300000, 'p'));
  HistoryWriter(path, "CatalogSync", "INSTALL", "/srv/Corvista1k.mdb", source).Seal(Succeeded());
  const std::optional<RunRecord> record = HistoryReader(path).Read(1);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->header.source, source);
  EXPECT_EQ(record->header.source_size, 300000);
  EXPECT_EQ(record->header.source_sha256, Sha256Hex(std::string(300000, 'p')));
  const Error e = ErrorOf([&] {
    HistoryWriter(path, "CatalogSync", "INSTALL", "/srv/Corvista1k.mdb", dir.Sub("absent.dat"));
  });
  EXPECT_EQ(e.number(), 53) << e.what();
  EXPECT_EQ(DetailOf(e, "history"), path);
}

const char* kSchema =
    "CREATE TABLE Tests (Tests_ID INTEGER PRIMARY KEY, Tests_Name TEXT(20), Factor DOUBLE);"
    "CREATE TABLE Ranges (TestID LONG, Sex TEXT(1), Low DOUBLE, PRIMARY KEY (TestID, Sex));"
    "CREATE TABLE Notes (Body MEMO);"
    "INSERT INTO Tests VALUES (1, 'GLU', 1.5), (2, 'CHOL', NULL);"
    "INSERT INTO Ranges VALUES (1, 'F', 3.5), (1, 'M', 3.9);"
    "INSERT INTO Notes VALUES ('kept');";

std::int64_t Count(Database& db, const std::string& sql) {
  return static_cast<std::int64_t>(db.Query(sql).rows.at(0).at(0).ToDouble());
}

// "<kind> <object> [<key>] <column>=<before>><after> ..." of each change.
std::string Describe(const std::vector<Change>& changes) {
  std::string text;
  for (const Change& c : changes) {
    text += std::string(KindName(c.kind)) + " " + c.object + " [" + c.key + "]";
    for (const ColumnChange& column : c.columns) {
      text += " " + column.column + "=" + column.before.Describe() + ">" + column.after.Describe();
    }
    text += "\n";
  }
  return text;
}

// Records go in the analyser database's transaction: a rollback takes both the change and
// its record (the run's header too when it was written in that transaction; the column lists
// first written there), a commit keeps both; so does a rollback to a savepoint set before the
// record. Rows are keyed by their declared primary key, else rowid.
TEST(HistoryWriter, RecordsShareTheDatabasesTransactions) {
  TempDir dir;
  const std::string history = dir.Sub("ChangeHistory.db");
  Database db = Database::Create(dir.Sub("Corvista1k.mdb"));
  db.Exec(kSchema);
  HistoryWriter writer(history, Header("CatalogSync"));
  writer.Attach(db);
  engine::ChangeRecorder recorder(db);
  const auto change = [&](const std::string& sql, bool commit) {
    engine::Transaction transaction = db.Begin();
    db.Exec(sql);
    writer.Record("assay 2", recorder);
    if (commit) transaction.Commit();
  };
  const std::string update = "UPDATE Tests SET Factor = 0.1 WHERE Tests_ID = 2";
  const std::string delete_insert =
      "DELETE FROM Ranges WHERE Sex = 'M'; INSERT INTO Notes VALUES ('new')";
  change(update, /*commit=*/false);
  EXPECT_EQ(Count(db, "SELECT count(*) FROM Tests WHERE Factor IS NULL"), 1);
  EXPECT_EQ(Verdict(history), "0 sealed");  // no header either
  {
    engine::Transaction transaction = db.Begin();
    db.Exec("SAVEPOINT outer; UPDATE Tests SET Tests_Name = 'GLUC' WHERE Tests_ID = 1");
    writer.Record("assay 1", recorder);
    db.Exec("ROLLBACK TO outer; RELEASE outer");
    db.Exec("UPDATE Tests SET Tests_Name = 'LDL' WHERE Tests_ID = 2");
    writer.Record("assay 2", recorder);
    transaction.Commit();
  }
  {
    // A conflict that rolls the whole transaction back, no ROLLBACK statement: the next record
    // (outside any transaction) writes the column list again.
    engine::Transaction transaction = db.Begin();
    db.Exec("INSERT INTO Ranges VALUES (2, 'M', 9)");
    writer.Record("assay 3", recorder);
    EXPECT_THROW(db.Exec("INSERT OR ROLLBACK INTO Tests VALUES (1, 'GLU', NULL)"), Error);
    db.Exec("INSERT INTO Ranges VALUES (2, 'F', 4.5)");
    writer.Record("assay 3", recorder);
  }
  change(update, /*commit=*/true);
  change(delete_insert, /*commit=*/false);
  EXPECT_EQ(Count(db, "SELECT count(*) FROM Notes"), 1);
  change(delete_insert, /*commit=*/true);
  // What the writer keeps of a table between records (its key, its column list) follows the
  // table when it is made anew under the same name.
  db.Exec("DROP TABLE Notes; CREATE TABLE Notes (Title TEXT PRIMARY KEY, Body MEMO)");
  change("INSERT INTO Notes VALUES ('two', 'x')", /*commit=*/true);
  writer.Detach();
  db.Close();
  const std::string hash = writer.Seal(Succeeded());
  const std::optional<RunRecord> record = HistoryReader(history).Read(1);
  ASSERT_TRUE(record && record->seal);
  EXPECT_EQ(record->seal->hash, hash);
  EXPECT_EQ(Describe(record->changes),
            "update Tests [Tests_ID=2] Tests_Name=\"CHOL\">\"LDL\"\n"
            "insert Ranges [TestID=2, Sex=\"F\"] TestID=Empty>2 Sex=Empty>\"F\" Low=Empty>4.5\n"
            "update Tests [Tests_ID=2] Factor=Null>0.1\n"
            "delete Ranges [TestID=1, Sex=\"M\"] TestID=1>Empty Sex=\"M\">Empty Low=3.9>Empty\n"
            "insert Notes [rowid=2] Body=Empty>\"new\"\n"
            "insert Notes [Title=\"two\"] Title=Empty>\"two\" Body=Empty>\"x\"\n");
  EXPECT_EQ(Verdict(history), "1 sealed");
}

// Statements run for anyone but the history cannot reach the attached history, nor attach,
// detach, or plant a temporary trigger; the database's own statements run as before.
TEST(HistoryWriter, AttachedHistoryIsOutOfReachOfOtherStatements) {
  TempDir dir;
  const std::string history = dir.Sub("ChangeHistory.db");
  SealedRun(history, "Reshaper", GlucoseChanges(1));
  Database db = Database::Create(dir.Sub("Corvista1k.mdb"));
  db.Exec(kSchema);
  HistoryWriter writer(history, Header("Reshaper"));
  writer.Attach(db);
  std::string numbers;
  for (const std::function<void()>& call : std::initializer_list<std::function<void()>>{
           [&] { db.Execute("DELETE FROM Seals"); },
           [&] { db.Execute("UPDATE history.Runs SET User = 'x'"); },
           [&] { db.Query("SELECT count(*) FROM history.Changes"); },
           [&] { db.Prepare("INSERT INTO Runs DEFAULT VALUES"); },
           [&] { db.Exec("PRAGMA history.user_version = 7"); },
           [&] { db.Exec("DETACH history"); },
           [&] { db.Exec("ATTACH '" + dir.Sub("x.db") + "' AS x"); },
           [&] { db.Exec("CREATE TEMP TRIGGER t AFTER INSERT ON Notes BEGIN SELECT 1; END"); },
           [&] { db.Execute("DELETE FROM Notes"); },
           [&] { db.Exec("PRAGMA main.quick_check"); },
       }) {
    numbers += std::to_string(ErrorOf(call).number()) + " ";
  }
  EXPECT_EQ(numbers, "23 23 23 23 23 23 23 23 0 0 ");
  writer.Detach();
  db.Close();
  EXPECT_EQ(Verdict(history), "1 sealed");
}

// Every kind of value comes back with its kind and its exact content.
TEST(HistoryWriter, ValuesRoundTripWithTheirKinds) {
  TempDir dir;
  const std::string path = dir.Sub("ChangeHistory.db");
  const std::vector<Value> values = {
      Value(),
      Value::Null(),
      Value(true),
      Value(false),
      Value(static_cast<std::uint8_t>(255)),
      Value(static_cast<std::int16_t>(-32768)),
      Value(std::numeric_limits<std::int32_t>::min()),
      Value(0.1f),
      Value(std::numeric_limits<float>::denorm_min()),
      Value(0.1),
      Value(-0.0),
      Value(std::numeric_limits<double>::max()),
      Value(std::numeric_limits<double>::denorm_min()),
      Value(std::nan("")),
      Value(""),
      Value("Glucose \xC3\xA9 'quoted' \"double\" ; -- \n\r\t \xF0\x9F\xA7\xAA"),
      Value(std::string(100000, 'x')),
      Value::FromError(7),
  };
  std::vector<ColumnChange> columns;
  for (std::size_t i = 0; i < values.size(); ++i) {
    columns.push_back({"C" + std::to_string(i), values[i], values[values.size() - 1 - i]});
  }
  SealedRun(path, "CatalogSync", {RowChange("assay 1", ChangeKind::kUpdate, "rowid=1", columns)});
  const std::optional<RunRecord> record = HistoryReader(path).Read(1);
  ASSERT_TRUE(record && record->changes.size() == 1);
  ASSERT_EQ(record->changes[0].columns.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const ColumnChange& column = record->changes[0].columns[i];
    EXPECT_TRUE(column.before.SameAs(values[i]) &&
                column.after.SameAs(values[values.size() - 1 - i]))
        << i << " " << values[i].Describe() << " " << column.before.Describe();
  }
  EXPECT_EQ(record->header, Header("CatalogSync"));
  EXPECT_FALSE(HistoryReader(path).Read(2).has_value());
}

}  // namespace
}  // namespace platform::history
