// Concurrency campaigns: each program beside live clients of the database
// and beside a second run. CONCURRENCY_ROUNDS (default 3) rounds per pairing
// on CONCURRENCY_ASSAYS (default 300); `make concurrencytest`: 100 on 3,000.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "tests/campaigns/harness.h"

namespace campaigns {
namespace {

using platform::engine::Database;

// A client of the database that is not one of the programs, as the analyser
// software or any SQLite tool: plain SQLite with a 5-second busy timeout and
// no lock file, one row per transaction into Audit (n = first, first + 1,
// ...) until `stop` exists. Each commit SQLite reported done is appended to
// `committed` by one write after the commit returned, so the file lists only
// commits the client was told had succeeded. After a failed commit (busy, a
// replaced file) it reopens and goes on with the next n, never the same.
void CommitUntilStopped(const std::string& database, const std::string& stop,
                        const std::string& committed, long n) {
  const int out = ::open(committed.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  for (; !Exists(stop); ++n, ::usleep(2000)) {  // the pauses give the programs their turn
    if (!insert) {                              // at the start, and after a failed commit
      sqlite3_close(db);
      sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
      sqlite3_busy_timeout(db, 5000);
      sqlite3_prepare_v2(db, "INSERT INTO Audit (n) VALUES (?)", -1, &insert, nullptr);
    }
    const bool done = insert && sqlite3_bind_int64(insert, 1, n) == SQLITE_OK &&
                      sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    const std::string line = std::to_string(n) + "\n";
    if (!done)
      sqlite3_finalize(std::exchange(insert, nullptr));
    else if (::write(out, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
      _exit(3);
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);
}

std::vector<long> Committed(const std::string& file) {
  std::istringstream in(ReadFile(file));
  std::vector<long> n;
  for (long v = 0; in >> v;) n.push_back(v);
  return n;
}

// Waits a millisecond at a time until `done`, at most a minute (a bound for a
// stuck run, never a goal); true when `done` came.
bool WaitUntil(const std::function<bool()>& done) {
  for (int waited = 0; waited < 60000; ++waited, ::usleep(1000))
    if (done()) return true;
  return done();
}

// `select` and its rows, each described with its kinds, sorted: equal for
// equal contents whatever the row order (compaction may renumber rowids).
std::string SortedRows(Database& db, const std::string& select) {
  std::multiset<std::string> rows;
  for (const auto& row : db.Query(select).rows) {
    std::string text;
    for (const auto& field : row) text += field.Describe() + "|";
    rows.insert(text);
  }
  std::string joined = select + "\n";
  for (const auto& r : rows) joined += r + "\n";
  return joined;
}

// CatalogSync in the folder of that name: "program" (with Reshaper and its
// shells), "second" (a catalogue of other volumes), "failing" (one that
// fails at its last assay).
struct Program {
  const char *name, *folder, *args;
};

// The first program starts beside a steady client; `offset` later the second
// program or, beside a single program, a second client. `upgraded`: from the
// fixture after Reshaper INSTALL,STRUCTURE.
struct Pairing {
  const char* title;
  bool upgraded;
  std::vector<Program> programs;
};

const Program kCatalogSync{"CatalogSync", "program", "INSTALL"},
    kSecond{"CatalogSync", "second", "INSTALL"}, kFailing{"CatalogSync", "failing", "INSTALL"},
    kReshaper{"Reshaper", "program", "INSTALL,QUERY,STRUCTURE,VERSION"},
    kEru{"Reshaper", "program", "ERU,STRUCTURE"};

// clang-format off
const Pairing kPairings[] = {
    {"CatalogSync INSTALL + clients", false, {kCatalogSync}},
    {"CatalogSync INSTALL, failing assay + clients", false, {kFailing}},
    {"Reshaper INSTALL,QUERY,STRUCTURE,VERSION + clients", false, {kReshaper}},
    {"Reshaper ERU,STRUCTURE + clients", true, {kEru}},
    {"CatalogSync INSTALL, two catalogues + client", false, {kCatalogSync, kSecond}},
    {"CatalogSync INSTALL, then Reshaper + client", false, {kCatalogSync, kReshaper}},
};
// clang-format on

class Campaign {
 public:
  Campaign() {
    for (const auto& [folder, reagent_vol] :
         {std::pair{std::string("program"), 100}, {"second", 150}, {"failing", 100}}) {
      MakeFolders(ws_.Sub(folder));
      ws_.InstallAt("CATALOGSYNC_BIN", ws_.Sub(folder + "/CatalogSync"));
      WriteInstallPackage(ws_.Sub(folder + "/CatalogSync.dat"), assays_, reagent_vol,
                          folder == "failing");
    }
    ws_.Install("RESHAPER_BIN", "Reshaper");
    for (const auto* shell : {"InstallShell", "ERUShell"}) ws_.MakeShell(shell);
    ws_.Reset(fixture_);
    if (ws_.Run("Reshaper", {"INSTALL,STRUCTURE"}).exit_status != 0)
      throw std::runtime_error("Reshaper INSTALL,STRUCTURE failed on the fixture");
    CopyFile(ws_.database(), upgraded_);
    // The catalogue in its columns before any upgrade: fields that Reshaper adds do not count.
    for (const std::string table : {"Tests", "TestVolumes", "TestRanges", "Kits"})
      catalogue_.push_back("SELECT " +
                           QueryValue(fixture_,
                                      "SELECT group_concat('\"' || name || '\"', ', ') FROM "
                                      "pragma_table_info('" +
                                          table + "')")
                               .ToText() +
                           " FROM " + table);
  }

  // `rounds` rounds, the second start at offsets spread over the first
  // program's run alone; prints the row of `make concurrencytest`: pairing,
  // rounds, client commits checked, runs that ended with exit 1 (allowed, but
  // a campaign of refusals tries little), rounds that failed a check.
  void Run(const Pairing& pairing, int rounds) {
    pairing_ = &pairing;
    start_ = pairing.upgraded ? upgraded_ : fixture_;
    alone_.clear();
    ws_.Reset(start_);
    const auto start = std::chrono::steady_clock::now();
    RunAlone(pairing.programs[0]);
    const auto first_run = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::size_t commits = 0, failures = 0, exit1 = 0;
    for (int r = 0; r < rounds; ++r) {
      // A steady client from before the first start to one commit after the last end.
      const auto offset = first_run * r / rounds;
      ws_.Reset(start_);
      std::string wrong;
      std::deque<LiveProcess> runs, clients;
      const auto file = [&](std::size_t c, const char* suffix) {
        return ws_.Sub("client" + std::to_string(c) + suffix);
      };
      const auto err = [&](std::size_t i) { return ws_.Sub("run" + std::to_string(i) + ".err"); };
      const auto start_client = [&](long first) {
        const std::string db = ws_.database(), stop = file(clients.size(), ".stop"),
                          list = file(clients.size(), ".committed");
        std::filesystem::remove(stop);  // of an earlier round
        clients.emplace_back(Start([=] { CommitUntilStopped(db, stop, list, first); }));
      };
      const auto start_run = [&](const Program& p) {
        runs.emplace_back(StartProgram(ws_.drive(), PathOf(p), p.args, err(runs.size())));
      };
      start_client(1);
      if (!WaitUntil([&] { return !Committed(file(0, ".committed")).empty(); }))
        wrong = "the client made no commit alone; ";
      start_run(pairing.programs[0]);
      std::this_thread::sleep_for(offset);
      if (pairing.programs.size() > 1)
        start_run(pairing.programs[1]);
      else
        start_client(1000000000);  // far above any n of the steady client
      std::vector<int> statuses;
      for (auto& run : runs) statuses.push_back(run.Wait());
      std::vector<long> committed;
      for (std::size_t c = 0; c < clients.size(); ++c) {
        const std::size_t more = Committed(file(c, ".committed")).size() + 1;
        if (!WaitUntil([&] { return Committed(file(c, ".committed")).size() >= more; }))
          wrong += "a client could not commit after the runs; ";
        WriteFile(file(c, ".stop"), "");
        clients[c].Wait();
        const std::vector<long> n = Committed(file(c, ".committed"));
        committed.insert(committed.end(), n.begin(), n.end());
      }
      commits += committed.size();
      exit1 += std::count(statuses.begin(), statuses.end(), 1);
      wrong += CheckRound(statuses, committed);
      if (wrong.empty()) continue;
      ++failures;
      std::string exits;
      for (std::size_t i = 0; i < runs.size(); ++i) {
        exits += (i ? "," : "") + std::to_string(statuses[i]);
        const std::string said = ReadFile(err(i));
        if (!said.empty())
          wrong += std::string(pairing.programs[i].name) + " said \"" +
                   said.substr(0, said.find('\n')) + "\"; ";
      }
      ADD_FAILURE() << pairing.title << ": round " << r << " (offset " << offset.count()
                    << " ms of " << first_run.count() << ", exits " << exits << "): " << wrong;
    }
    std::cout << "| " << std::left << std::setw(48) << pairing.title << " | " << std::right
              << std::setw(6) << rounds << " | " << std::setw(8) << commits << " | " << std::setw(6)
              << exit1 << " | " << std::setw(8) << failures << " |\n";
  }

 private:
  std::string PathOf(const Program& p) const {
    return ws_.Sub(std::string(p.folder) + "/" + p.name);
  }
  int RunAlone(const Program& p) { return ws_.Run(PathOf(p), {p.args}).exit_status; }

  // Every run ended with 0 or 1; a marker exists exactly when a run of its
  // program succeeded; the database passes integrity_check and holds every
  // commit a client was told had succeeded; each program's changes are
  // there as its successful runs alone, in either order, leave them, and
  // with none, CatalogSync's (one transaction, or its backup) are absent.
  std::string CheckRound(const std::vector<int>& statuses, const std::vector<long>& committed) {
    std::string wrong;
    std::map<std::string, std::vector<std::size_t>> succeeded;  // runs by program
    for (std::size_t i = 0; i < statuses.size(); ++i) {
      auto& runs = succeeded[pairing_->programs[i].name];
      if (statuses[i] == 0)
        runs.push_back(i);
      else if (statuses[i] != 1)
        wrong += std::string(pairing_->programs[i].name) + " ended with status " +
                 std::to_string(statuses[i]) + "; ";
    }
    for (const auto& [name, runs] : succeeded)  // before Alone resets the files
      if (Exists(ws_.marker(name)) == runs.empty())
        wrong += name + (runs.empty() ? " left a marker after failing; "
                                      : " succeeded without its marker; ");
    std::map<std::string, std::string> found;
    {
      Database db = Database::Open(ws_.database());
      const std::string integrity = db.Query("PRAGMA integrity_check").rows.at(0).at(0).ToText();
      if (integrity != "ok")
        wrong += "integrity_check: " + integrity.substr(0, integrity.find('\n')) + "; ";
      std::set<long> rows;
      for (const auto& row : db.Query("SELECT n FROM Audit").rows) rows.insert(row[0].ToLong());
      const auto lost = std::ranges::count_if(committed, [&](long n) { return !rows.contains(n); });
      if (lost > 0)
        wrong += std::to_string(lost) + " of " + std::to_string(committed.size()) +
                 " client commits lost; ";
      for (const auto& [name, runs] : succeeded) found[name] = SignatureOf(name, db);
    }
    for (auto [name, runs] : succeeded) {
      if (runs.empty() && name != "CatalogSync") continue;
      bool possible = false, matches = false;
      do {
        const std::optional<std::string>& expected = Alone(name, runs);
        possible = possible || expected.has_value();
        matches = matches || expected == found[name];
      } while (std::next_permutation(runs.begin(), runs.end()));
      if (!possible) wrong += name + " reported success where the same runs alone fail; ";
      if (possible && !matches)
        wrong += name + ": the database is not as its " + std::to_string(runs.size()) +
                 " successful runs alone leave it; ";
    }
    return wrong;
  }

  // What `program` changes after the runs `sequence` (indexes) alone in that
  // order, or nullopt when one of them failed alone; kept for later rounds.
  const std::optional<std::string>& Alone(const std::string& program,
                                          const std::vector<std::size_t>& sequence) {
    auto [it, added] = alone_.try_emplace({program, sequence});
    if (!added) return it->second;
    ws_.Reset(start_);
    for (std::size_t i : sequence)
      if (RunAlone(pairing_->programs[i]) != 0) return it->second;
    Database db = Database::Open(ws_.database());
    return it->second = SignatureOf(program, db);
  }

  // CatalogSync changes the catalogue; Reshaper the schema and every table
  // besides the catalogue's and the clients' (fields, views, triggers, saved
  // queries, field properties, the version stamp).
  std::string SignatureOf(const std::string& program, Database& db) const {
    std::string s;
    if (program == "CatalogSync") {
      for (const auto& select : catalogue_) s += SortedRows(db, select);
      return s;
    }
    s = SortedRows(db, "SELECT type, name, sql FROM sqlite_master WHERE tbl_name <> 'Audit'");
    for (const auto& table : db.Query("SELECT name FROM sqlite_master WHERE type = 'table' AND "
                                      "name NOT IN ('Audit', 'Tests', 'TestVolumes', "
                                      "'TestRanges', 'Kits')")
                                 .rows)
      s += SortedRows(db, "SELECT * FROM " + platform::engine::QuoteIdentifier(table[0].text()));
    return s;
  }

  Workstation ws_;
  const int assays_ = IntSetting("CONCURRENCY_ASSAYS", 300);
  const std::string fixture_ = ws_.MakeFixture(
      "fixture.mdb", assays_ * 3 / 4, "CREATE TABLE Audit (id INTEGER PRIMARY KEY, n INTEGER);");
  const std::string upgraded_ = ws_.Sub("upgraded.mdb");
  std::vector<std::string> catalogue_;  // the selects of its tables
  const Pairing* pairing_ = nullptr;
  std::string start_;  // the fixture of the pairing
  std::map<std::pair<std::string, std::vector<std::size_t>>, std::optional<std::string>> alone_;
};

TEST(ConcurrencyTest, EveryRoundKeepsEveryCommitAndWholeRuns) {
  Campaign campaign;
  for (const Pairing& pairing : kPairings)
    campaign.Run(pairing, IntSetting("CONCURRENCY_ROUNDS", 3));
}

}  // namespace
}  // namespace campaigns
