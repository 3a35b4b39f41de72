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
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "catalog_sync/records/file_manager.h"
#include "platform/core/error.h"
#include "platform/engine/database.h"
#include "tests/catalog_sync/writer_fixture.h"
#include "tests/concurrency/live_process.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace concurrency {
namespace {

namespace fs = std::filesystem;
using catalog_sync::testing::CatalogBuilder;
using platform::engine::Database;
using testing_support::CopyFile;
using testing_support::Exists;
using testing_support::ReadFile;

constexpr int kFirstBulkTest = 100;
constexpr int kLimitMs = 60000;  // a bound for a stuck run, never a goal
const char kAudit[] = "Audit";
constexpr long kLateClientFirst = 1000000000;  // far above any steady client's n
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
    for (const auto& folder : {program(), second(), failing()}) {
      testing_support::MakeFolders(folder);
      InstallBinary("CATALOGSYNC_BIN", folder + "/CatalogSync");
    }
    InstallBinary("RESHAPER_BIN", program() + "/Reshaper");
    WritePackage(program(), assays, 100, false);
    WritePackage(second(), assays, 150, false);
    WritePackage(failing(), assays, 100, true);
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
  // CatalogSync with a catalogue of other volumes than program()'s.
  std::string second() const { return dir_.Sub("second"); }
  // CatalogSync with a catalogue that fails at its last assay.
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
  static void WritePackage(const std::string& folder, int assays, std::int32_t reagent_vol,
                           bool failing) {
    CatalogBuilder catalog;
    static const char* const kModes[] = {"DELETE", "MODIFY", "ADD", "ADD"};
    for (int i = 0; i < assays; ++i) {
      const auto number = static_cast<std::int16_t>(kFirstBulkTest + i);
      catalog.Add(number, "T" + std::to_string(number), kModes[i % 4],
                  {reagent_vol, 40 * (i % 2), 0});
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

// A client: audit_writer on the database, its commits in a file. Clients of
// one round number their rows from different `first` values.
class Client {
 public:
  Client(const Sandbox& box, const std::string& label, long first)
      : box_(box),
        label_(label),
        process_({testing_support::BinaryFromEnv("AUDIT_WRITER_BIN"),
                  {box.database(), kAudit, StopFile(), std::to_string(first)},
                  {}},
                 box.scratch(label + ".committed"), box.scratch(label + ".err")) {}

  // Commits reported so far.
  std::vector<long> Committed() const {
    std::istringstream in(ReadFile(box_.scratch(label_ + ".committed")));
    std::vector<long> n;
    for (long v = 0; in >> v;) n.push_back(v);
    return n;
  }

  // Waits (bounded) until the client has made `more` commits beyond those
  // reported now, then stops it. False when they did not come.
  bool StopAfter(std::size_t more) {
    const std::size_t target = Committed().size() + more;
    const bool came = WaitUntil([&] { return Committed().size() >= target; }, kLimitMs);
    testing_support::WriteFile(StopFile(), "");
    process_.Wait();
    fs::remove(StopFile());
    return came;
  }

 private:
  std::string StopFile() const { return box_.scratch(label_ + ".stop"); }

  const Sandbox& box_;
  std::string label_;
  LiveProcess process_;
};

struct Pairing {
  std::string title;
  std::string fixture;
  std::vector<Program> programs;  // the first starts first, the second at the offset
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

// What runs of a pairing's programs one after the other, alone, leave: the
// measure of what the same runs side by side may leave. Computed when first
// asked for (it resets the database) and kept for later rounds.
class Reference {
 public:
  Reference(const Sandbox& box, const Pairing& pairing) : box_(box), pairing_(pairing) {
    box.Reset(pairing.fixture);
    const auto start = std::chrono::steady_clock::now();
    RunAlone(box, pairing.programs.front());
    first_run_ = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
  }

  // How long the first program takes alone, over which the offsets spread.
  std::chrono::milliseconds first_run() const { return first_run_; }

  // The signature after the programs at `sequence` (indexes) ran alone in
  // that order, or nullopt when one of them failed alone.
  const std::optional<std::string>& After(const Signature& signature,
                                          const std::vector<std::size_t>& sequence) {
    auto [it, added] = cache_.try_emplace({&signature, sequence});
    if (added) {
      box_.Reset(pairing_.fixture);
      bool succeeded = true;
      for (std::size_t i : sequence)
        succeeded = succeeded && RunAlone(box_, pairing_.programs[i]) == 0;
      if (succeeded) it->second = SignatureNow(box_, signature);
    }
    return it->second;
  }

 private:
  const Sandbox& box_;
  const Pairing& pairing_;
  std::chrono::milliseconds first_run_{};
  std::map<std::pair<const Signature*, std::vector<std::size_t>>, std::optional<std::string>>
      cache_;
};

struct RoundResult {
  std::size_t commits = 0;
  std::vector<int> statuses;
  std::string wrong;  // "" when the round is sound
};

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// The programs of `pairing` whose changes `signature` reads.
std::vector<std::size_t> ProgramsOf(const Pairing& pairing, const Signature* signature) {
  std::vector<std::size_t> group;
  for (std::size_t i = 0; i < pairing.programs.size(); ++i)
    if (pairing.programs[i].signature == signature) group.push_back(i);
  return group;
}

// What is wrong with the changes that `signature` reads, found as `found`
// after a round: the successful runs' changes must be there as runs alone
// in either order leave them; with none, a program that promises to leave the
// database as before must have done so.
std::string CheckChanges(const Pairing& pairing, Reference& ref, const Signature& signature,
                         const std::string& found, const std::vector<int>& statuses) {
  const std::vector<std::size_t> group = ProgramsOf(pairing, &signature);
  std::vector<std::size_t> succeeded;
  for (std::size_t i : group)
    if (statuses[i] == 0) succeeded.push_back(i);
  const std::string& name = pairing.programs[group.front()].name;
  if (succeeded.empty() && !pairing.programs[group.front()].failure_leaves_database_as_before)
    return "";
  bool possible = false, matches = false;
  do {
    const std::optional<std::string>& expected = ref.After(signature, succeeded);
    possible = possible || expected.has_value();
    matches = matches || (expected && *expected == found);
  } while (std::next_permutation(succeeded.begin(), succeeded.end()));
  if (!possible) return name + " reported success where the same runs alone fail; ";
  if (matches) return "";
  return succeeded.empty() ? name + " failed, but the database is not as before; "
         : succeeded.size() < group.size()
             ? name + ": the database is not as the successful run alone leaves it; "
             : name + " reported success, but its changes are not all there; ";
}

// What is wrong with the database and the markers after a round, or "".
std::string CheckRound(const Sandbox& box, const Pairing& pairing, Reference& ref,
                       const std::vector<int>& statuses, const std::vector<long>& committed) {
  std::string wrong;
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    if (statuses[i] != 0 && statuses[i] != 1)
      wrong +=
          pairing.programs[i].name + " ended with status " + std::to_string(statuses[i]) + "; ";
  }
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    const Program& p = pairing.programs[i];
    const std::vector<std::size_t> same = ProgramsOf(pairing, p.signature);
    if (same.front() != i) continue;
    const bool any_succeeded =
        std::any_of(same.begin(), same.end(), [&](std::size_t j) { return statuses[j] == 0; });
    if (Exists(box.marker(p)) != any_succeeded)
      wrong += p.name + (any_succeeded ? " succeeded without its marker; "
                                       : " left a marker after failing; ");
  }
  std::map<const Signature*, std::string> found;
  {
    Database db = Database::Open(box.database());
    const std::string integrity = db.Query("PRAGMA integrity_check").rows.at(0).at(0).ToText();
    if (integrity != "ok") wrong += "integrity_check: " + FirstLine(integrity) + "; ";
    const auto present = Column(db, std::string("SELECT n FROM ") + kAudit);
    const std::set<std::string> rows(present.begin(), present.end());
    const auto lost = std::count_if(committed.begin(), committed.end(),
                                    [&](long n) { return !rows.contains(std::to_string(n)); });
    if (lost > 0)
      wrong += std::to_string(lost) + " of " + std::to_string(committed.size()) +
               " client commits lost; ";
    for (const Program& p : pairing.programs) found[p.signature] = p.signature->Of(db);
    db.Close();
  }
  for (const auto& [signature, state] : found)
    wrong += CheckChanges(pairing, ref, *signature, state, statuses);
  return wrong;
}

// One round: a client that commits from before the first start to after the
// last end, the first program, and `offset` after its start the second
// program or, beside a single program, a second client.
RoundResult RunRound(const Sandbox& box, const Pairing& pairing, Reference& ref,
                     std::chrono::milliseconds offset) {
  box.Reset(pairing.fixture);
  RoundResult result;
  std::vector<std::unique_ptr<LiveProcess>> runs;
  auto start = [&](const Program& p) {
    const std::string n = std::to_string(runs.size());
    runs.push_back(std::make_unique<LiveProcess>(box.CommandOf(p), "/dev/null",
                                                 box.scratch("run" + n + ".err")));
  };
  std::vector<std::unique_ptr<Client>> clients;
  clients.push_back(std::make_unique<Client>(box, "steady", 1));
  if (!WaitUntil([&] { return !clients[0]->Committed().empty(); }, kLimitMs))
    result.wrong = "the client made no commit alone; ";
  start(pairing.programs[0]);
  std::this_thread::sleep_for(offset);
  if (pairing.programs.size() > 1) {
    start(pairing.programs[1]);
  } else {
    clients.push_back(std::make_unique<Client>(box, "late", kLateClientFirst));
  }
  for (auto& run : runs) result.statuses.push_back(run->Wait());
  std::vector<long> committed;
  for (auto& client : clients) {
    if (!client->StopAfter(1)) result.wrong += "a client could not commit after the runs; ";
    const std::vector<long> n = client->Committed();
    committed.insert(committed.end(), n.begin(), n.end());
  }
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
  int failed_runs = 0;  // exit 1: allowed, but a campaign of refusals tries little
  std::vector<std::string> failures;
};

CampaignResult RunCampaign(const Sandbox& box, const Pairing& pairing, int rounds) {
  Reference ref(box, pairing);
  CampaignResult result;
  for (int r = 0; r < rounds; ++r) {
    const auto offset = ref.first_run() * r / rounds;
    const RoundResult round = RunRound(box, pairing, ref, offset);
    ++result.rounds;
    result.commits += round.commits;
    result.failed_runs +=
        static_cast<int>(std::count(round.statuses.begin(), round.statuses.end(), 1));
    if (!round.wrong.empty()) {
      std::string exits;
      for (int s : round.statuses) exits += (exits.empty() ? "" : ",") + std::to_string(s);
      result.failures.push_back(
          "round " + std::to_string(r) + " (offset " + std::to_string(offset.count()) + " ms of " +
          std::to_string(ref.first_run().count()) + ", exits " + exits + "): " + round.wrong);
    }
  }
  return result;
}

// The table row of `make concurrencytest`: pairing, rounds, client commits
// checked, runs that ended with exit 1, rounds that failed a check.
void PrintRow(const Pairing& pairing, const CampaignResult& result) {
  std::cout << "| " << std::left << std::setw(48) << pairing.title << " | " << std::right
            << std::setw(6) << result.rounds << " | " << std::setw(8) << result.commits << " | "
            << std::setw(6) << result.failed_runs << " | " << std::setw(8) << result.failures.size()
            << " |\n";
}

class ConcurrencyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    box_ = new Sandbox(testing_support::IntSetting("CONCURRENCY_ASSAYS", 300));
  }
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
    const CampaignResult result =
        RunCampaign(*box_, pairing, testing_support::IntSetting("CONCURRENCY_ROUNDS", 3));
    PrintRow(pairing, result);
    for (const auto& failure : result.failures) ADD_FAILURE() << pairing.title << ": " << failure;
  }

  static Sandbox* box_;
};

Sandbox* ConcurrencyTest::box_ = nullptr;

TEST_F(ConcurrencyTest, CatalogSyncBesideAClient) {
  ExpectEveryRoundSound(
      {"CatalogSync INSTALL + clients", box_->fixture(), {CatalogSync(box_->program())}});
}

TEST_F(ConcurrencyTest, FailingCatalogSyncBesideAClient) {
  ExpectEveryRoundSound({"CatalogSync INSTALL, failing assay + clients",
                         box_->fixture(),
                         {CatalogSync(box_->failing())}});
}

TEST_F(ConcurrencyTest, ReshaperInstallBesideAClient) {
  ExpectEveryRoundSound({"Reshaper INSTALL,QUERY,STRUCTURE,VERSION + clients",
                         box_->fixture(),
                         {Reshaper("INSTALL,QUERY,STRUCTURE,VERSION")}});
}

TEST_F(ConcurrencyTest, ReshaperEruBesideAClient) {
  ExpectEveryRoundSound(
      {"Reshaper ERU,STRUCTURE + clients", box_->upgraded_fixture(), {Reshaper("ERU,STRUCTURE")}});
}

TEST_F(ConcurrencyTest, TwoCatalogSyncRuns) {
  ExpectEveryRoundSound({"CatalogSync INSTALL, two catalogues + client",
                         box_->fixture(),
                         {CatalogSync(box_->program()), CatalogSync(box_->second())}});
}

TEST_F(ConcurrencyTest, CatalogSyncWithReshaper) {
  ExpectEveryRoundSound(
      {"CatalogSync INSTALL, then Reshaper + client",
       box_->fixture(),
       {CatalogSync(box_->program()), Reshaper("INSTALL,QUERY,STRUCTURE,VERSION")}});
}

}  // namespace
}  // namespace concurrency
