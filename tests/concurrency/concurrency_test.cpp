// Concurrency campaigns: each program run beside a live client of the
// database (audit_writer, committing rows into a table of its own) and beside
// a second run, the second start placed at offsets spread over the first
// program's run so that commits land in every phase of it. After each round:
// every commit the client was told had succeeded is in the database, the
// database passes `PRAGMA integrity_check`, every run ended with 0 or 1, its
// marker exists exactly when one of its runs succeeded, and the database
// holds what the successful runs wrote (a failed CatalogSync run: exactly
// what it held before, apart from the client's rows).
//
// CONCURRENCY_ROUNDS (default 3) sets the rounds per pairing,
// CONCURRENCY_ASSAYS (default 300) the size of the catalogue and database;
// `make concurrencytest` runs 100 rounds on 3,000.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

#include "catalog_sync/records/file_manager.h"
#include "platform/core/error.h"
#include "platform/engine/database.h"
#include "tests/catalog_sync/writer_fixture.h"
#include "tests/concurrency/live_process.h"
#include "tests/support/test_support.h"

namespace concurrency {
namespace {

namespace fs = std::filesystem;
using catalog_sync::testing::CatalogBuilder;
using platform::engine::Database;
using testing_support::CopyFile;
using testing_support::Exists;
using testing_support::ReadFile;

int Setting(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoi(value) : fallback;
}

constexpr int kFirstBulkTest = 100;
constexpr int kLimitMs = 60000;  // a bound for a stuck run, never a goal
const char kAudit[] = "Audit";
const std::vector<std::string> kCatalogTables = {"Tests", "TestVolumes", "TestRanges", "Kits"};

// The rows of `select`, one text each, sorted: equal for equal contents
// whatever the row order (compaction may renumber rowids).
std::string SortedRows(Database& db, const std::string& select) {
  std::vector<std::string> rows;
  for (const auto& row : db.Query(select).rows) {
    std::string text;
    for (const auto& field : row) text += field.Describe() + "|";
    rows.push_back(text);
  }
  std::sort(rows.begin(), rows.end());
  std::string joined;
  for (const auto& r : rows) joined += r + "\n";
  return joined;
}

std::vector<std::string> Column(Database& db, const std::string& select) {
  std::vector<std::string> values;
  for (const auto& row : db.Query(select).rows) values.push_back(row.at(0).ToText());
  return values;
}

// What one kind of run changes, read from a database; equal signatures mean
// the run's changes are there (or absent) alike.
class Signature {
 public:
  virtual ~Signature() = default;
  virtual std::string Of(Database& db) const = 0;
};

// The catalogue: the four tables' rows in the columns they had before any
// upgrade, so that fields added by Reshaper do not count.
class CatalogueSignature : public Signature {
 public:
  explicit CatalogueSignature(const std::string& database) {
    Database db = Database::Open(database);
    for (const auto& table : kCatalogTables) {
      std::string columns;
      for (const auto& c : Column(db, "SELECT name FROM pragma_table_info('" + table + "')"))
        columns += (columns.empty() ? "" : ", ") + platform::engine::QuoteIdentifier(c);
      selects_.push_back("SELECT " + columns + " FROM " + table);
    }
    db.Close();
  }
  std::string Of(Database& db) const override {
    std::string s;
    for (const auto& select : selects_) s += select + "\n" + SortedRows(db, select);
    return s;
  }

 private:
  std::vector<std::string> selects_;
};

// The schema and every table besides the catalogue's and the client's:
// what Reshaper changes (fields, views, triggers, saved queries, field
// properties, the version stamp).
class SchemaSignature : public Signature {
 public:
  std::string Of(Database& db) const override {
    std::string s = SortedRows(db, "SELECT type, name, sql FROM sqlite_master WHERE tbl_name <> '" +
                                       std::string(kAudit) + "'");
    for (const auto& table : Column(db, "SELECT name FROM sqlite_master WHERE type = 'table'")) {
      if (table == kAudit ||
          std::find(kCatalogTables.begin(), kCatalogTables.end(), table) != kCatalogTables.end())
        continue;
      s += table + "\n" +
           SortedRows(db, "SELECT * FROM " + platform::engine::QuoteIdentifier(table));
    }
    return s;
  }
};

// One program of a pairing.
struct Program {
  std::string name;    // the executable's base name
  std::string folder;  // its program folder
  std::string args;
  const Signature* signature;
  bool failure_leaves_database_as_before;  // CatalogSync: one transaction, or the backup
};

// The system drive, the program folders and the fixtures of every pairing.
class Sandbox {
 public:
  explicit Sandbox(int assays) : catalogue_(BaseFixture(assays)) {
    for (const auto& folder : {program(), failing()}) {
      testing_support::MakeFolders(folder);
      InstallBinary("CATALOGSYNC_BIN", folder + "/CatalogSync");
    }
    InstallBinary("RESHAPER_BIN", program() + "/Reshaper");
    WritePackage(program(), assays, false);
    WritePackage(failing(), assays, true);
    for (const auto* shell : {"InstallShell", "ERUShell"}) {
      Database db = Database::Create(program() + "/" + shell + ".mdb");
      db.Exec(ReadFile(examples() + "analyser-schema.sql"));
      db.Exec(ReadFile(examples() + shell + ".sql"));
      db.Close();
    }
    MakeUpgradedFixture();
  }

  std::string drive() const { return dir_.Sub("drive"); }
  std::string databases() const { return dir_.Sub("drive/Corvista1000/Databases"); }
  std::string database() const { return databases() + "/Corvista1k.mdb"; }
  std::string program() const { return dir_.Sub("program"); }
  std::string failing() const { return dir_.Sub("failing"); }
  std::string fixture() const { return dir_.Sub("fixture.mdb"); }
  std::string upgraded_fixture() const { return dir_.Sub("upgraded.mdb"); }
  std::string scratch(const std::string& name) const { return dir_.Sub(name); }
  std::string marker(const Program& p) const { return drive() + "/" + p.name + ".txt"; }
  const Signature& catalogue() const { return catalogue_; }
  const Signature& schema() const { return schema_; }

  Command CommandOf(const Program& p) const {
    return {p.folder + "/" + p.name, {p.args}, {{"SYSTEM_DRIVE", drive()}}};
  }

  // The database from `fixture`, nothing beside it, no marker.
  void Reset(const std::string& fixture) const {
    for (const auto& entry : fs::directory_iterator(databases())) fs::remove(entry.path());
    for (const auto* name : {"CatalogSync", "Reshaper"}) fs::remove(drive() + "/" + name + ".txt");
    CopyFile(fixture, database());
  }

 private:
  static std::string examples() { return testing_support::SourceDir() + "/examples/"; }

  // The sample database grown by three quarters of `assays` tests, with the
  // client's table.
  std::string BaseFixture(int assays) const {
    testing_support::MakeFolders(databases());
    testing_support::MakeFolders(dir_.Sub("drive/Corvista1000/Logs"));
    catalog_sync::testing::CreateAnalyserDatabase(
        fixture(), catalog_sync::testing::SampleDataSql() +
                       catalog_sync::testing::ExistingTestsSql(kFirstBulkTest, assays * 3 / 4) +
                       "CREATE TABLE " + kAudit + " (id INTEGER PRIMARY KEY, n INTEGER);");
    return fixture();
  }

  void InstallBinary(const char* variable, const std::string& to) const {
    CopyFile(testing_support::BinaryFromEnv(variable), to);
    testing_support::ChmodFile(to, 0755);
  }

  // A quarter deleted, a quarter modified, the rest added; the failing one
  // ends in an assay whose name is too long for Tests_Name, after the walk
  // has done all the others.
  static void WritePackage(const std::string& folder, int assays, bool failing) {
    CatalogBuilder catalog;
    static const char* const kModes[] = {"DELETE", "MODIFY", "ADD", "ADD"};
    for (int i = 0; i < assays; ++i) {
      const auto number = static_cast<std::int16_t>(kFirstBulkTest + i);
      catalog.Add(number, "T" + std::to_string(number), kModes[i % 4], {100, 40 * (i % 2), 0});
    }
    if (failing) catalog.Add(41, "O'NEIL-PLUS", "ADD");
    const catalog_sync::testing::Catalog c = catalog.Build();
    catalog_sync::FileManager(folder + "/CatalogSync.dat").WriteProperties(c.assays, c.volumes);
  }

  // The base fixture after Reshaper INSTALL,STRUCTURE, for the ERU runs.
  void MakeUpgradedFixture() const {
    Reset(fixture());
    const Command upgrade{
        program() + "/Reshaper", {"INSTALL,STRUCTURE"}, {{"SYSTEM_DRIVE", drive()}}};
    LiveProcess run(upgrade, "/dev/null", "/dev/null");
    if (run.Wait() != 0)
      throw std::runtime_error("Reshaper INSTALL,STRUCTURE failed on the fixture");
    CopyFile(database(), upgraded_fixture());
  }

  testing_support::TempDir dir_;
  CatalogueSignature catalogue_;
  SchemaSignature schema_;
};

// The client: audit_writer on the database, its commits in a file.
class Client {
 public:
  Client(const Sandbox& box)
      : box_(box),
        process_({testing_support::BinaryFromEnv("AUDIT_WRITER_BIN"),
                  {box.database(), kAudit, box.scratch("stop")},
                  {}},
                 box.scratch("committed"), box.scratch("client.err")) {}

  // Commits reported so far.
  std::vector<long> Committed() const {
    std::istringstream in(ReadFile(box_.scratch("committed")));
    std::vector<long> n;
    for (long v = 0; in >> v;) n.push_back(v);
    return n;
  }

  // Waits for `more` commits beyond those reported now (bounded), then stops
  // the client. False when they did not come.
  bool StopAfter(std::size_t more) {
    const std::size_t target = Committed().size() + more;
    const bool came = WaitUntil([&] { return Committed().size() >= target; }, kLimitMs);
    testing_support::WriteFile(box_.scratch("stop"), "");
    process_.Wait();
    fs::remove(box_.scratch("stop"));
    return came;
  }

 private:
  const Sandbox& box_;
  LiveProcess process_;
};

struct Pairing {
  std::string title;
  std::string fixture;
  std::vector<Program> programs;  // the first starts first
  bool client_first;              // the client is the offset one when false
};

// The signatures after k successful runs alone, k = 0, 1, ... for each
// program name; a run alone that fails ends the list.
struct Reference {
  std::map<std::string, std::vector<std::string>> after;
  std::chrono::milliseconds first_run{};
};

std::string SignatureNow(const Sandbox& box, const Signature& signature) {
  Database db = Database::Open(box.database());
  std::string s = signature.Of(db);
  db.Close();
  return s;
}

int RunAlone(const Sandbox& box, const Program& p) {
  LiveProcess run(box.CommandOf(p), "/dev/null", "/dev/null");
  return run.Wait();
}

Reference ReferenceRuns(const Sandbox& box, const Pairing& pairing) {
  Reference ref;
  for (const Program& p : pairing.programs) {
    auto& states = ref.after[p.name];
    if (!states.empty()) continue;
    const auto runs = std::count_if(pairing.programs.begin(), pairing.programs.end(),
                                    [&](const Program& q) { return q.name == p.name; });
    box.Reset(pairing.fixture);
    states.push_back(SignatureNow(box, *p.signature));
    for (int k = 0; k < runs; ++k) {
      const auto start = std::chrono::steady_clock::now();
      const int status = RunAlone(box, p);
      if (&p == &pairing.programs.front() && k == 0)
        ref.first_run = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
      if (status != 0) break;
      states.push_back(SignatureNow(box, *p.signature));
    }
  }
  return ref;
}

struct RoundResult {
  std::size_t commits = 0;
  std::vector<int> statuses;
  std::string wrong;  // "" when the round is sound
};

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// What is wrong with the database and the markers after a round, or "".
std::string CheckRound(const Sandbox& box, const Pairing& pairing, const Reference& ref,
                       const std::vector<int>& statuses, const std::vector<long>& committed) {
  std::string wrong;
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    if (statuses[i] != 0 && statuses[i] != 1)
      wrong +=
          pairing.programs[i].name + " ended with status " + std::to_string(statuses[i]) + "; ";
  }
  Database db = Database::Open(box.database());
  const std::string integrity = db.Query("PRAGMA integrity_check").rows.at(0).at(0).ToText();
  if (integrity != "ok") wrong += "integrity_check: " + FirstLine(integrity) + "; ";
  const auto present = Column(db, std::string("SELECT n FROM ") + kAudit);
  const std::set<std::string> rows(present.begin(), present.end());
  const auto lost = std::count_if(committed.begin(), committed.end(),
                                  [&](long n) { return !rows.contains(std::to_string(n)); });
  if (lost > 0)
    wrong +=
        std::to_string(lost) + " of " + std::to_string(committed.size()) + " client commits lost; ";
  for (const auto& [name, states] : ref.after) {
    int succeeded = 0;
    const Program* program = nullptr;
    for (std::size_t i = 0; i < statuses.size(); ++i) {
      if (pairing.programs[i].name != name) continue;
      program = &pairing.programs[i];
      succeeded += statuses[i] == 0;
    }
    if (Exists(box.marker(*program)) != (succeeded > 0))
      wrong +=
          name + (succeeded ? " succeeded without its marker; " : " left a marker after failing; ");
    if (static_cast<std::size_t>(succeeded) >= states.size()) {
      wrong += name + " reported success where a run alone fails; ";
    } else if (succeeded > 0 || program->failure_leaves_database_as_before) {
      if (program->signature->Of(db) != states[succeeded])
        wrong += name + (succeeded ? " reported success, but its changes are not all there; "
                                   : " failed, but the database is not as before; ");
    }
  }
  db.Close();
  return wrong;
}

// One round: the client and the programs, the second start `offset` after
// the first.
RoundResult RunRound(const Sandbox& box, const Pairing& pairing, const Reference& ref,
                     std::chrono::milliseconds offset) {
  box.Reset(pairing.fixture);
  RoundResult result;
  std::optional<Client> client;
  std::vector<std::unique_ptr<LiveProcess>> runs;
  auto start = [&](const Program& p) {
    const std::string n = std::to_string(runs.size());
    runs.push_back(std::make_unique<LiveProcess>(box.CommandOf(p), "/dev/null",
                                                 box.scratch("run" + n + ".err")));
  };
  if (pairing.client_first) {
    client.emplace(box);
    if (!WaitUntil([&] { return !client->Committed().empty(); }, kLimitMs))
      result.wrong = "the client made no commit alone; ";
    start(pairing.programs[0]);
    std::this_thread::sleep_for(offset);
    start(pairing.programs[1]);
  } else {
    start(pairing.programs[0]);
    std::this_thread::sleep_for(offset);
    client.emplace(box);
  }
  for (auto& run : runs) result.statuses.push_back(run->Wait());
  if (!client->StopAfter(1)) result.wrong += "the client could not commit after the runs; ";
  const std::vector<long> committed = client->Committed();
  result.commits = committed.size();
  result.wrong += CheckRound(box, pairing, ref, result.statuses, committed);
  if (!result.wrong.empty()) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
      const std::string err = ReadFile(box.scratch("run" + std::to_string(i) + ".err"));
      if (!err.empty())
        result.wrong += pairing.programs[i].name + " said \"" + FirstLine(err) + "\"; ";
    }
  }
  return result;
}

struct CampaignResult {
  int rounds = 0;
  std::size_t commits = 0;
  std::vector<std::string> failures;
};

CampaignResult RunCampaign(const Sandbox& box, const Pairing& pairing, int rounds) {
  const Reference ref = ReferenceRuns(box, pairing);
  CampaignResult result;
  for (int r = 0; r < rounds; ++r) {
    const auto offset = ref.first_run * r / rounds;
    const RoundResult round = RunRound(box, pairing, ref, offset);
    ++result.rounds;
    result.commits += round.commits;
    if (!round.wrong.empty()) {
      std::string exits;
      for (int s : round.statuses) exits += (exits.empty() ? "" : ",") + std::to_string(s);
      result.failures.push_back(
          "round " + std::to_string(r) + " (offset " + std::to_string(offset.count()) + " ms of " +
          std::to_string(ref.first_run.count()) + ", exits " + exits + "): " + round.wrong);
    }
  }
  return result;
}

// The table row of `make concurrencytest`.
void PrintRow(const Pairing& pairing, const CampaignResult& result) {
  std::cout << "| " << std::left << std::setw(48) << pairing.title << " | " << std::right
            << std::setw(6) << result.rounds << " | " << std::setw(8) << result.commits << " | "
            << std::setw(8) << result.failures.size() << " |\n";
}

class ConcurrencyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { box_ = new Sandbox(Setting("CONCURRENCY_ASSAYS", 300)); }
  static void TearDownTestSuite() {
    delete box_;
    box_ = nullptr;
  }

  static Program CatalogSync(const std::string& folder) {
    return {"CatalogSync", folder, "INSTALL", &box_->catalogue(), true};
  }
  static Program Reshaper(const std::string& args) {
    return {"Reshaper", box_->program(), args, &box_->schema(), false};
  }

  static void ExpectEveryRoundSound(const Pairing& pairing) {
    const CampaignResult result = RunCampaign(*box_, pairing, Setting("CONCURRENCY_ROUNDS", 3));
    PrintRow(pairing, result);
    for (const auto& failure : result.failures) ADD_FAILURE() << pairing.title << ": " << failure;
  }

  static Sandbox* box_;
};

Sandbox* ConcurrencyTest::box_ = nullptr;

TEST_F(ConcurrencyTest, CatalogSyncBesideAClient) {
  ExpectEveryRoundSound(
      {"CatalogSync INSTALL + client", box_->fixture(), {CatalogSync(box_->program())}, false});
}

TEST_F(ConcurrencyTest, FailingCatalogSyncBesideAClient) {
  ExpectEveryRoundSound({"CatalogSync INSTALL, failing assay + client",
                         box_->fixture(),
                         {CatalogSync(box_->failing())},
                         false});
}

TEST_F(ConcurrencyTest, ReshaperInstallBesideAClient) {
  ExpectEveryRoundSound({"Reshaper INSTALL,QUERY,STRUCTURE,VERSION + client",
                         box_->fixture(),
                         {Reshaper("INSTALL,QUERY,STRUCTURE,VERSION")},
                         false});
}

TEST_F(ConcurrencyTest, ReshaperEruBesideAClient) {
  ExpectEveryRoundSound({"Reshaper ERU,STRUCTURE + client",
                         box_->upgraded_fixture(),
                         {Reshaper("ERU,STRUCTURE")},
                         false});
}

TEST_F(ConcurrencyTest, TwoCatalogSyncRuns) {
  ExpectEveryRoundSound({"CatalogSync INSTALL twice + client",
                         box_->fixture(),
                         {CatalogSync(box_->program()), CatalogSync(box_->program())},
                         true});
}

TEST_F(ConcurrencyTest, CatalogSyncWithReshaper) {
  ExpectEveryRoundSound(
      {"CatalogSync INSTALL, then Reshaper + client",
       box_->fixture(),
       {CatalogSync(box_->program()), Reshaper("INSTALL,QUERY,STRUCTURE,VERSION")},
       true});
}

}  // namespace
}  // namespace concurrency
