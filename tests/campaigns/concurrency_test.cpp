// Concurrency campaigns: each program beside live clients of the database
// and beside a second run. CONCURRENCY_ROUNDS (default 3) rounds per pairing
// on CONCURRENCY_ASSAYS (default 300); `make concurrencytest`: 100 on 3,000.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "tests/campaigns/harness.h"

namespace campaigns {
namespace {

using platform::engine::Database;

// A client as the analyser software or any SQLite tool: plain SQLite, a
// 5-second busy timeout, no lock file; one row per transaction into Audit
// (n = first, first + 1, ...) until `client`.stop exists. `client`.committed
// gets each n by one write after its commit returned done: only commits the
// client was told had succeeded. After a failed commit (busy, a replaced
// file) it reopens and goes on with the next n, never the same.
void CommitUntilStopped(const std::string& database, const std::string& client, long n) {
  const int out =
      ::open((client + ".committed").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  for (; !Exists(client + ".stop"); ++n, ::usleep(2000)) {  // the pauses give the programs a turn
    if (!insert) {
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
}

std::vector<long> Committed(const std::string& client) {
  std::istringstream in(ReadFile(client + ".committed"));
  return {std::istream_iterator<long>(in), std::istream_iterator<long>()};
}

// Waits a millisecond at a time until `done`, at most a minute (a bound for a
// stuck run, never a goal); true when `done` came.
bool WaitUntil(const std::function<bool()>& done) {
  for (int waited = 0; waited < 60000; ++waited, ::usleep(1000))
    if (done()) return true;
  return done();
}

// The rows of each select, each described with its kinds, sorted: equal for
// equal contents whatever the row order (compaction may renumber rowids).
std::string SortedRows(Database& db, const std::vector<std::string>& selects) {
  std::string joined;
  for (const auto& select : selects) {
    std::multiset<std::string> rows;
    for (const auto& row : db.Query(select).rows) {
      std::string text;
      for (const auto& field : row) text += field.Describe() + "|";
      rows.insert(text);
    }
    joined += select + "\n";
    for (const auto& r : rows) joined += r + "\n";
  }
  return joined;
}

// A program in its folder: "program" (with Reshaper and its shells), "second"
// (a catalogue of other volumes), "failing" (one that fails at its last assay).
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

// Each pairing in rounds at offsets spread over the first program's run
// alone; prints the row of `make concurrencytest`: pairing, rounds, client
// commits checked, runs that ended with exit 1 (allowed, but a campaign of
// refusals tries little), rounds that failed a check.
TEST(ConcurrencyTest, EveryRoundKeepsEveryCommitAndWholeRuns) {
  Workstation ws;
  const int assays = IntSetting("CONCURRENCY_ASSAYS", 300);
  const int rounds = IntSetting("CONCURRENCY_ROUNDS", 3);
  const std::string fixture = ws.MakeFixture(
      "fixture.mdb", assays * 3 / 4, "CREATE TABLE Audit (id INTEGER PRIMARY KEY, n INTEGER);");
  const std::string upgraded = ws.Sub("upgraded.mdb");
  for (const std::string folder : {"program", "second", "failing"}) {
    MakeFolders(ws.Sub(folder));
    ws.InstallAt("CATALOGSYNC_BIN", ws.Sub(folder + "/CatalogSync"));
    WriteInstallPackage(ws.Sub(folder + "/CatalogSync.dat"), assays, folder == "second" ? 150 : 100,
                        folder == "failing");
  }
  ws.Install("RESHAPER_BIN", "Reshaper");
  for (const auto* shell : {"InstallShell", "ERUShell"}) ws.MakeShell(shell);
  ws.Reset(fixture);
  ASSERT_EQ(ws.Run("Reshaper", {"INSTALL,STRUCTURE"}).exit_status, 0) << "on the fixture";
  CopyFile(ws.database(), upgraded);
  // CatalogSync changes the catalogue, in its columns before any upgrade
  // (fields that Reshaper adds do not count); Reshaper the schema and every
  // table besides the catalogue's and the clients' (fields, views, triggers,
  // saved queries, field properties, the version stamp).
  std::vector<std::string> catalogue;
  for (const std::string table : {"Tests", "TestVolumes", "TestRanges", "Kits"})
    catalogue.push_back("SELECT " +
                        QueryValue(fixture,
                                   "SELECT group_concat('\"' || name || '\"', ', ') "
                                   "FROM pragma_table_info('" +
                                       table + "')")
                            .ToText() +
                        " FROM " + table);
  const auto signature = [&](const std::string& program) {
    Database db = Database::Open(ws.database());
    std::vector<std::string> selects = catalogue;
    if (program == "Reshaper") {
      selects = {"SELECT type, name, sql FROM sqlite_master WHERE tbl_name <> 'Audit'"};
      for (const auto& table : db.Query("SELECT name FROM sqlite_master WHERE type = 'table' AND "
                                        "name NOT IN ('Audit', 'Tests', 'TestVolumes', "
                                        "'TestRanges', 'Kits')")
                                   .rows)
        selects.push_back("SELECT * FROM " + platform::engine::QuoteIdentifier(table[0].text()));
    }
    return SortedRows(db, selects);
  };
  const auto path = [&](const Program& p) { return ws.Sub(std::string(p.folder) + "/" + p.name); };

  for (const Pairing& pairing : kPairings) {
    const std::string& start = pairing.upgraded ? upgraded : fixture;
    const auto run_alone = [&](std::size_t i) {
      return ws.Run(path(pairing.programs[i]), {pairing.programs[i].args}).exit_status;
    };
    // What `program` changes after the runs `sequence` alone in that order,
    // or nullopt when one of them failed alone; kept for later rounds.
    std::map<std::pair<std::string, std::vector<std::size_t>>, std::optional<std::string>> alone;
    const auto alone_leave = [&](const std::string& program,
                                 const std::vector<std::size_t>& sequence) {
      auto [it, added] = alone.try_emplace({program, sequence});
      if (!added) return it->second;
      ws.Reset(start);
      if (std::ranges::all_of(sequence, [&](std::size_t i) { return run_alone(i) == 0; }))
        it->second = signature(program);
      return it->second;
    };
    ws.Reset(start);
    const auto began = std::chrono::steady_clock::now();
    run_alone(0);
    const auto first_run = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - began);
    std::size_t commits = 0, failures = 0, exit1 = 0;
    for (int r = 0; r < rounds; ++r) {
      // A steady client from before the first start to one commit after the last end.
      const auto offset = first_run * r / rounds;
      ws.Reset(start);
      std::string wrong, exits;
      std::vector<pid_t> runs, clients;
      const auto client = [&](std::size_t c) { return ws.Sub("client" + std::to_string(c)); };
      const auto err = [&](std::size_t i) { return ws.Sub("run" + std::to_string(i) + ".err"); };
      const auto start_client = [&](long first) {
        for (const char* file : {".stop", ".committed"})  // of an earlier round
          std::filesystem::remove(client(clients.size()) + file);
        clients.push_back(Start(
            [&, c = clients.size()] { CommitUntilStopped(ws.database(), client(c), first); }));
      };
      const auto start_run = [&](std::size_t i) {
        const Program& p = pairing.programs[i];
        runs.push_back(StartProgram(ws.drive(), path(p), p.args, err(i)));
      };
      start_client(1);
      if (!WaitUntil([&] { return !Committed(client(0)).empty(); }))
        wrong = "the client made no commit alone; ";
      start_run(0);
      std::this_thread::sleep_for(offset);
      if (pairing.programs.size() > 1)
        start_run(1);
      else
        start_client(1000000000);  // far above any n of the steady client
      // Every run ended with 0 or 1; a marker exists exactly when a run of its
      // program succeeded; the database passes integrity_check and holds every
      // commit a client was told had succeeded; each program's changes are
      // there as its successful runs alone, in either order, leave them, and
      // with none, CatalogSync's (one transaction, or its backup) are absent.
      std::map<std::string, std::vector<std::size_t>> succeeded;  // runs by program
      for (std::size_t i = 0; i < runs.size(); ++i) {
        const int status = Wait(runs[i]);
        const std::string name = pairing.programs[i].name, said = ReadFile(err(i));
        exits += ", " + name + " " + std::to_string(status) + " \"" +
                 said.substr(0, said.find('\n')) + "\"";
        auto& ok = succeeded[name];
        if (status == 0) ok.push_back(i);
        exit1 += status == 1;
        if (status != 0 && status != 1)
          wrong += name + " ended with status " + std::to_string(status) + "; ";
      }
      std::vector<long> committed;
      for (std::size_t c = 0; c < clients.size(); ++c) {
        const std::size_t more = Committed(client(c)).size() + 1;
        if (!WaitUntil([&] { return Committed(client(c)).size() >= more; }))
          wrong += "a client could not commit after the runs; ";
        WriteFile(client(c) + ".stop", "");
        Wait(clients[c]);
        const std::vector<long> n = Committed(client(c));
        committed.insert(committed.end(), n.begin(), n.end());
      }
      commits += committed.size();
      for (const auto& [name, ok] : succeeded)  // before the runs alone reset the files
        if (Exists(ws.marker(name)) == ok.empty())
          wrong += name + (ok.empty() ? " left a marker after failing; "
                                      : " succeeded without its marker; ");
      {
        Database db = Database::Open(ws.database());
        const std::string integrity = db.Query("PRAGMA integrity_check").rows.at(0).at(0).ToText();
        if (integrity != "ok") wrong += "integrity_check: " + integrity + "; ";
        std::set<long> rows;
        for (const auto& row : db.Query("SELECT n FROM Audit").rows) rows.insert(row[0].ToLong());
        const auto lost =
            std::ranges::count_if(committed, [&](long n) { return !rows.contains(n); });
        if (lost > 0)
          wrong += std::to_string(lost) + " of " + std::to_string(committed.size()) +
                   " client commits lost; ";
      }
      std::map<std::string, std::string> found;
      for (const auto& [name, ok] : succeeded) found[name] = signature(name);
      for (auto [name, ok] : succeeded) {
        if (ok.empty() && name != "CatalogSync") continue;
        bool possible = false, matches = false;
        do {
          const std::optional<std::string> expected = alone_leave(name, ok);
          possible = possible || expected.has_value();
          matches = matches || expected == found[name];
        } while (std::next_permutation(ok.begin(), ok.end()));
        if (!possible)
          wrong += name + " reported success where the same runs alone fail; ";
        else if (!matches)
          wrong += name + ": the database is not as its " + std::to_string(ok.size()) +
                   " successful runs alone leave it; ";
      }
      if (wrong.empty()) continue;
      ++failures;
      ADD_FAILURE() << pairing.title << ": round " << r << " (offset " << offset.count()
                    << " ms of " << first_run.count() << exits << "): " << wrong;
    }
    std::cout << "| " << std::left << std::setw(48) << pairing.title << " | " << std::right
              << std::setw(6) << rounds << " | " << std::setw(8) << commits << " | " << std::setw(6)
              << exit1 << " | " << std::setw(8) << failures << " |\n";
  }
}

}  // namespace
}  // namespace campaigns
