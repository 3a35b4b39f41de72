// The crash and concurrency campaigns of the real programs, at sizes that
// `make crashtest` (CRASH_POINTS, CRASH_ASSAYS) and `make concurrencytest`
// (CONCURRENCY_ROUNDS, CONCURRENCY_ASSAYS) raise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "platform/core/error.h"
#include "platform/history/reader.h"
#include "tests/support/catalog.h"
#include "tests/support/databases.h"
#include "tests/support/history.h"
#include "tests/support/sandbox.h"

namespace campaigns {
namespace {

using namespace testing_support;
using platform::engine::Database;

class Workstation : public Sandbox {
 public:
  Workstation() { MakeFolders(logs()); }
  std::string MakeFixture(const std::string& name, int tests, const std::string& more_sql = "") {
    CreateAnalyserDatabase(Sub(name), SampleDataSql() + ExistingTestsSql(100, tests) + more_sql);
    return Sub(name);
  }
  void MakeShell(const std::string& name) const {
    Database::Create(InProgram(name + ".mdb"))
        .Exec(ExampleFile("analyser-schema.sql") + ExampleFile(name + ".sql"));
  }
  // Nothing beside the database, no marker, no log: every run makes the same
  // file changes (a log's first line syncs its folder), so kill points match.
  void Reset(const std::string& fixture) const {
    for (const auto& folder : {databases(), logs()})
      for (const auto& entry : std::filesystem::directory_iterator(folder))
        std::filesystem::remove(entry.path());
    for (const auto* name : {"CatalogSync", "Reshaper"}) std::filesystem::remove(marker(name));
    CopyFile(fixture, database());
  }
};

// Of `assays` from test 100 on, a quarter deleted by name, a quarter modified,
// the rest added (half over the fixture's tests). `failing` adds a last name
// too long for Tests_Name: the run fails after the walk did all the others.
void WriteInstallPackage(const std::string& path, int assays, std::int32_t reagent_vol,
                         bool failing = false) {
  CatalogBuilder catalog;
  static const char* const kModes[] = {"DELETE", "MODIFY", "ADD", "ADD"};
  for (int i = 0; i < assays; ++i) {
    const auto number = static_cast<std::int16_t>(100 + i);
    catalog.Add(number, "T" + std::to_string(number), kModes[i % 4],
                {reagent_vol, 40 * (i % 2), 0});
  }
  if (failing) catalog.Add(41, "O'NEIL-PLUS", "ADD");
  catalog.WritePackage(path);
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("campaign harness: " + what + ": " + std::strerror(errno));
}

// A child that ends with _exit (no test code runs twice) or with the harness.
pid_t Start(const std::function<void()>& in_child) {
  const pid_t pid = ::fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) ::prctl(PR_SET_PDEATHSIG, SIGKILL), in_child(), _exit(0);
  return pid;
}

// No standard input or output; `traced`: stopped for RunTraced, without
// LeakSanitizer, which cannot work traced (it traces the process at exit).
pid_t StartProgram(const std::string& drive, const std::string& path, const char* args,
                   const std::string& err, bool traced = false) {
  return Start([&] {
    const int in = ::open("/dev/null", O_RDWR),
              out = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(in, 1) < 0 || ::dup2(out, 2) < 0 ||
        ::setenv("SYSTEM_DRIVE", drive.c_str(), 1) != 0 ||
        (traced && (::setenv("ASAN_OPTIONS", "detect_leaks=0", 1) != 0 ||
                    ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)))
      _exit(126);
    ::execl(path.c_str(), path.c_str(), args, nullptr);
    _exit(127);
  });
}

int Wait(pid_t pid) {
  int raw = 0;
  return ::waitpid(pid, &raw, 0) == pid && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Writes, flushes, truncates, renames, links, unlinks, creates a file or
// folder, or changes its mode. Standard output and error carry messages only.
bool ChangesAFile(std::uint64_t nr, const std::uint64_t* args) {
  // clang-format off
  static const std::set<std::uint64_t> kWrites = {SYS_write, SYS_pwrite64, SYS_writev, SYS_pwritev,
                                                  SYS_pwritev2};
  static const std::set<std::uint64_t> kChanges = {
      SYS_fsync, SYS_fdatasync, SYS_sync_file_range, SYS_ftruncate, SYS_fallocate,
      SYS_copy_file_range, SYS_sendfile, SYS_renameat, SYS_renameat2, SYS_unlinkat, SYS_mkdirat,
      SYS_linkat, SYS_symlinkat, SYS_fchmod, SYS_fchmodat,
#ifdef SYS_open  // the older calls, where the architecture has them
      SYS_creat, SYS_rename, SYS_unlink, SYS_mkdir, SYS_rmdir, SYS_link, SYS_symlink, SYS_chmod,
      SYS_truncate,
#endif
  };
  // clang-format on
  if (kWrites.contains(nr)) return args[0] > 2;
  if (nr == SYS_openat) return (args[2] & (O_CREAT | O_TRUNC)) != 0;
#ifdef SYS_open
  if (nr == SYS_open) return (args[1] & (O_CREAT | O_TRUNC)) != 0;
#endif
  return kChanges.contains(nr);
}

struct TracedRun {
  bool killed = false;   // stopped by the harness before call `kill_at`
  int exit_status = -1;  // the program's exit status when it ran to its end
  int file_changes = 0;  // file-changing calls entered in any thread (not the one killed)
};

// Runs the program under ptrace to its end, or kills it before file-changing
// call `kill_at` (1-based; 0 never kills). Throws when it cannot be traced.
TracedRun RunTraced(const std::string& drive, const std::string& path, const char* args,
                    int kill_at) {
  const pid_t main = StartProgram(drive, path, args, "/dev/null", true);
  const auto resume = [](pid_t pid, int signal) {  // ESRCH: the thread died meanwhile
    if (::ptrace(PTRACE_SYSCALL, pid, nullptr, signal) != 0 && errno != ESRCH) Fail("resume");
  };
  TracedRun run;
  int status = 0;
  const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACECLONE;
  if (::waitpid(main, &status, 0) != main || !WIFSTOPPED(status) ||
      ::ptrace(PTRACE_SETOPTIONS, main, nullptr, options) != 0)
    Fail("start");
  for (resume(main, 0);;) {
    const pid_t pid = ::waitpid(-1, &status, __WALL);
    if (pid < 0 && errno == EINTR) continue;
    if (pid < 0 && errno == ECHILD) break;
    if (pid < 0) Fail("waitpid");
    if (WIFEXITED(status) && pid == main) run.exit_status = WEXITSTATUS(status);
    if (WIFEXITED(status) || WIFSIGNALED(status) || run.killed) continue;  // nothing to resume
    const int signal = WSTOPSIG(status);
    if (signal != (SIGTRAP | 0x80)) {
      // Event stops, and the first stop of each new thread, carry no signal for it.
      resume(pid, (status >> 16) != 0 || signal == SIGSTOP || signal == SIGTRAP ? 0 : signal);
      continue;
    }
    __ptrace_syscall_info info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0) Fail("syscall info");
    const bool changes =
        info.op == PTRACE_SYSCALL_INFO_ENTRY && ChangesAFile(info.entry.nr, info.entry.args);
    if (changes && run.file_changes + 1 == kill_at)
      run.killed = true, ::kill(main, SIGKILL);
    else
      run.file_changes += changes, resume(pid, 0);
  }
  if (!run.killed && run.exit_status >= 126)
    throw std::runtime_error("campaign harness: cannot run " + path);
  return run;
}

const char kUnsound[] = "unsound: ";

// Integrity, then schema and rows: what the next program meets once SQLite
// has rolled back a crash's journal. An unsound state never equals a sound one.
std::string StateOf(const std::string& path) {
  if (!Exists(path)) return std::string(kUnsound) + "the database file is missing";
  try {
    const std::string integrity = QueryValue(path, "PRAGMA integrity_check").ToText();
    return integrity == "ok" ? DumpDatabase(path) : kUnsound + integrity;
  } catch (const platform::Error& e) {
    return kUnsound + e.description();
  }
}

// The history's row changes, of every run it holds, against the database's
// difference from the fixture; and its chain (unfinished runs allowed). ""
// when they agree. Opening either file rolls back a killed run's journal,
// as the next program's would.
std::string HistoryDisagreement(const Workstation& ws) {
  const std::string history = ws.logs() + "/ChangeHistory.db";
  std::vector<platform::history::RunRecord> runs;
  if (Exists(history)) {
    platform::history::HistoryReader reader(history);
    if (const auto verdict = reader.Verify(); verdict.broken_run) {
      return "run " + std::to_string(*verdict.broken_run) + " " + verdict.broken_reason;
    }
    for (const auto& run : reader.List()) runs.push_back(*reader.Read(run.number));
  }
  const auto [recorded, real] = CompareWithDatabase(runs, ws.Sub("fixture.mdb"), ws.database());
  const auto [in_history, in_database] =
      std::mismatch(recorded.begin(), recorded.end(), real.begin(), real.end());
  if (in_history == recorded.end() && in_database == real.end()) return "";
  return "the history says \"" + (in_history == recorded.end() ? "" : *in_history) +
         "\", the database \"" + (in_database == real.end() ? "" : *in_database) + "\"";
}

// The files of the run's folders, where leftovers of killed runs would stay.
std::string Listing(const Workstation& ws) {
  std::set<std::string> names;
  for (const auto& folder : {ws.drive(), ws.databases(), ws.program_folder()})
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (!entry.is_directory()) names.insert(entry.path().string().substr(ws.root().size()));
  std::string joined;
  for (const auto& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return "[" + joined + "]";
}

// `arrange` makes the fixture and program files and returns the title.
// CatalogSync changes the database in one transaction (all or nothing);
// Reshaper rolls no step back: sound, and the rerun must finish it.
struct Scenario {
  const char *variable, *program, *args;
  bool all_or_nothing;
  std::string (*arrange)(Workstation& ws, int size);
};

const Scenario kScenarios[] = {
    {"CATALOGSYNC_BIN", "CatalogSync", "INSTALL", true,
     [](Workstation& ws, int assays) {
       ws.MakeFixture("fixture.mdb", assays * 3 / 4);
       WriteInstallPackage(ws.InProgram("CatalogSync.dat"), assays, 100);
       return "CatalogSync INSTALL (" + std::to_string(assays) + " assays)";
     }},
    // The benchmark's 500-sheet workbook (441 tests) over an older package.
    {"CATALOGSYNC_BIN", "CatalogSync", "QVR", true,
     [](Workstation& ws, int size) {
       ws.MakeFixture("fixture.mdb", 2 * size);
       const std::string gz = SourceDir() + "/bench/workbook_import/catalog-500.xls.gz";
       WriteFile(ws.InProgram("CatalogSync.xls"), Run("/usr/bin/env", {"gzip", "-dc", gz}).out);
       CatalogBuilder old_catalog;
       old_catalog.Add(7, "OLD", "ADD");
       old_catalog.WritePackage(ws.InProgram("CatalogSync.dat"));
       return "CatalogSync QVR (500 sheets, " + std::to_string(2 * size) + " tests)";
     }},
    {"RESHAPER_BIN", "Reshaper", "INSTALL,QUERY,STRUCTURE,VERSION", false,
     [](Workstation& ws, int tests) {
       ws.MakeFixture("fixture.mdb", tests);
       ws.MakeShell("InstallShell");
       return "Reshaper INSTALL,QUERY,STRUCTURE,VERSION (" + std::to_string(tests) + " tests)";
     }},
};

// After each kill: the database sound (as before or as after where all or
// nothing) and as its change history says; the package the old or the new
// one, the database changed only from the new; a marker only after a
// finished run. Then a rerun that succeeds, recorded too,
// reaches a whole run's state (two runs' when the killed one had finished its
// changes) and leaves a whole run's files.
TEST(CrashTest, EveryKillLeavesSoundFilesThatARerunFinishes) {
  for (const Scenario& s : kScenarios) {
    Workstation ws;
    ws.Install(s.variable, s.program);
    const std::string title = s.arrange(ws, IntSetting("CRASH_ASSAYS", 300));
    const std::string package = ws.InProgram("CatalogSync.dat");
    const std::string old_package = ReadFile(package);  // "" when there is none
    const auto run = [&](int kill_at) {
      return RunTraced(ws.drive(), ws.InProgram(s.program), s.args, kill_at);
    };
    const auto reset = [&] {
      ws.Reset(ws.Sub("fixture.mdb"));
      if (!old_package.empty()) WriteFile(package, old_package);
    };
    const auto state = [&] { return StateOf(ws.database()); };
    reset();
    const std::string before = state();
    reset();  // reading the state may have touched the files
    const TracedRun whole = run(0);
    ASSERT_TRUE(!whole.killed && whole.exit_status == 0) << title << ": the whole run failed";
    ASSERT_EQ(HistoryDisagreement(ws), "") << title << ": the whole run's history";
    const std::string after = state(), new_package = ReadFile(package), listing = Listing(ws);
    ASSERT_EQ(run(0).exit_status, 0) << title << ": a second run failed";
    const std::string after_twice = state();
    ASSERT_NE(after, before) << title << ": the run changed nothing";
    const auto wrong_after = [&](int point) -> std::string {
      reset();
      if (!run(point).killed) return "the run ended before the point";
      const std::string killed = state(), bytes = ReadFile(package);
      if (killed.starts_with(kUnsound)) return "killed: " + killed;
      if (s.all_or_nothing && killed != before && killed != after) return "killed: half done";
      if (bytes != old_package && bytes != new_package) return "killed: a half-written package";
      if (killed == after && bytes != new_package) return "killed: done from an unwritten package";
      if (Exists(ws.marker(s.program)) && killed != after) return "killed: a marker before the end";
      if (const std::string wrong = HistoryDisagreement(ws); !wrong.empty())
        return "killed: " + wrong;
      if (const int rerun = run(0).exit_status) return "rerun: exit " + std::to_string(rerun);
      if (state() != (killed == after ? after_twice : after)) return "rerun: not a whole run";
      if (const std::string wrong = HistoryDisagreement(ws); !wrong.empty())
        return "rerun: " + wrong;
      const std::string files = Listing(ws);
      return files == listing ? "" : "rerun: files " + files + " instead of " + listing;
    };
    const int total = whole.file_changes, points = std::min(total, IntSetting("CRASH_POINTS", 6));
    int consistent = 0;
    for (int i = 0; i < points; ++i) {
      // Spread over 1..total, first and last included (one point: the last).
      const int point = 1 + static_cast<int>(std::int64_t{i + (points == 1)} * (total - 1) /
                                             std::max(points - 1, 1));
      const std::string wrong = wrong_after(point);
      consistent += wrong.empty();
      EXPECT_EQ(wrong, "") << title << ": kill point " << point << " of " << total;
    }
    std::printf("%s: %d kill points over %d file changes, %d consistent\n", title.c_str(), points,
                total, consistent);
  }
}

// The selects of what Reshaper changes: the schema, the tables but the catalogue and Audit.
const char kReshaped[] =
    "SELECT 'SELECT type, name, sql FROM sqlite_master WHERE tbl_name <> ''Audit''' UNION ALL "
    "SELECT 'SELECT * FROM [' || name || ']' FROM sqlite_master WHERE type = 'table' AND name "
    "NOT IN ('Audit', 'Tests', 'TestVolumes', 'TestRanges', 'Kits')";

// A client as the analyser software: plain SQLite, 5 s busy timeout, no lock
// file; a row n, n + 1, ... per transaction until `client`.stop exists, each n
// to `client`.committed once its commit returned done. After a failed commit
// (busy, a replaced file) it reopens.
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

std::vector<std::string> Committed(const std::string& client) {
  std::istringstream in(ReadFile(client + ".committed"));
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// At most a minute: a bound for a stuck run, never a goal.
bool WaitUntil(const std::function<bool()>& done) {
  for (int waited = 0; waited < 60000; ++waited, ::usleep(1000))
    if (done()) return true;
  return done();
}

std::vector<std::string> Texts(const std::string& path, const std::string& sql) {
  std::vector<std::string> texts;
  for (const auto& row : Database::Open(path).Query(sql).rows) texts.push_back(row[0].ToText());
  return texts;
}

// The rows of each select, each described with its kinds, sorted: equal for
// equal contents whatever the row order (compaction may renumber rowids).
std::string SortedRows(const std::string& path, const std::vector<std::string>& selects) {
  Database db = Database::Open(path);
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

// Folders: "program" (with Reshaper and its shells), "second" (a catalogue of
// other volumes), "failing" (one that fails at its last assay).
struct Program {
  const char *name, *folder, *args;
};

// `upgraded`: from the fixture after Reshaper INSTALL,STRUCTURE.
struct Pairing {
  const char* title;
  bool upgraded;
  std::vector<Program> programs;
};

const Program kCatalogSync{"CatalogSync", "program", "INSTALL"},
    kSecond{"CatalogSync", "second", "INSTALL"}, kFailing{"CatalogSync", "failing", "INSTALL"},
    kReshaper{"Reshaper", "program", "INSTALL,QUERY,STRUCTURE,VERSION"},
    kEru{"Reshaper", "program", "ERU,STRUCTURE"};

const Pairing kPairings[] = {
    {"CatalogSync INSTALL + clients", false, {kCatalogSync}},
    {"CatalogSync INSTALL, failing assay + clients", false, {kFailing}},
    {"Reshaper INSTALL,QUERY,STRUCTURE,VERSION + clients", false, {kReshaper}},
    {"Reshaper ERU,STRUCTURE + clients", true, {kEru}},
    {"CatalogSync INSTALL, two catalogues + client", false, {kCatalogSync, kSecond}},
    {"CatalogSync INSTALL, then Reshaper + client", false, {kCatalogSync, kReshaper}},
};

// Prints `make concurrencytest`'s row: pairing, rounds, client commits, runs
// that ended with 1 (allowed, but refusals try little), failed rounds.
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
  // CatalogSync changes the catalogue, in the fixture's columns (Reshaper adds some).
  const std::vector<std::string> catalogue =
      Texts(fixture,
            "SELECT 'SELECT ' || group_concat('[' || p.name || ']', ', ') || ' FROM ' "
            "|| t.name FROM sqlite_master t, pragma_table_info(t.name) p WHERE t.name "
            "IN ('Tests', 'TestVolumes', 'TestRanges', 'Kits') GROUP BY t.name");
  const auto signature = [&](const std::string& program) {
    return SortedRows(ws.database(),
                      program == "CatalogSync" ? catalogue : Texts(ws.database(), kReshaped));
  };
  const auto path = [&](const Program& p) { return ws.Sub(std::string(p.folder) + "/" + p.name); };
  for (const Pairing& pairing : kPairings) {
    const std::string& start = pairing.upgraded ? upgraded : fixture;
    const auto run_alone = [&](std::size_t i) {
      return ws.Run(path(pairing.programs[i]), {pairing.programs[i].args}).exit_status;
    };
    // `program`'s changes after the runs `seq` alone (nullopt: one failed).
    std::map<std::pair<std::string, std::vector<std::size_t>>, std::optional<std::string>> alone;
    const auto alone_leave = [&](const std::string& program, const std::vector<std::size_t>& seq) {
      auto [it, added] = alone.try_emplace({program, seq});
      if (!added) return it->second;
      ws.Reset(start);
      if (std::ranges::all_of(seq, [&](std::size_t i) { return run_alone(i) == 0; }))
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
      // A steady client from before the first start to one commit after the last
      // end; the first program, and `offset` later the second or a second client.
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
      ::usleep(offset.count() * 1000);
      pairing.programs.size() > 1 ? start_run(1) : start_client(1000000000);  // far above any n
      // Every run ends with 0 or 1, and its program's marker exists exactly when one succeeded.
      std::map<std::string, std::vector<std::size_t>> succeeded;  // runs by program
      for (std::size_t i = 0; i < runs.size(); ++i) {
        const int status = Wait(runs[i]);
        const std::string name = pairing.programs[i].name, said = ReadFile(err(i));
        exits += ", " + name + " " + std::to_string(status) + " " + said.substr(0, said.find('\n'));
        if (auto& ok = succeeded[name]; status == 0) ok.push_back(i);
        exit1 += status == 1;
        if (status < 0 || status > 1)
          wrong += name + " ended with status " + std::to_string(status) + "; ";
      }
      for (const auto& [name, ok] : succeeded)
        if (Exists(ws.marker(name)) == ok.empty())
          wrong += name + (ok.empty() ? " left a marker after failing; "
                                      : " succeeded without its marker; ");
      std::vector<std::string> committed;
      for (std::size_t c = 0; c < clients.size(); ++c) {
        const std::size_t more = Committed(client(c)).size() + 1;
        if (!WaitUntil([&] { return Committed(client(c)).size() >= more; }))
          wrong += "a client could not commit after the runs; ";
        WriteFile(client(c) + ".stop", "");
        Wait(clients[c]);
        std::ranges::copy(Committed(client(c)), std::back_inserter(committed));
      }
      commits += committed.size();
      const std::string integrity = Texts(ws.database(), "PRAGMA integrity_check")[0];
      if (integrity != "ok") wrong += "integrity_check: " + integrity + "; ";
      const std::vector<std::string> audit = Texts(ws.database(), "SELECT n FROM Audit");
      const std::set<std::string> rows(audit.begin(), audit.end());
      if (const auto lost =
              std::ranges::count_if(committed, [&](auto& n) { return !rows.contains(n); }))
        wrong += std::to_string(lost) + " client commits lost; ";
      // Each program's changes as its successful runs alone, in either order,
      // leave them; with none, CatalogSync's (one transaction) are absent.
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
        if (!possible || !matches)
          wrong += name + (possible ? ": not as its runs alone leave it; " : ": alone it fails; ");
      }
      failures += !wrong.empty();
      EXPECT_EQ(wrong, "") << pairing.title << ": round " << r << " (offset " << offset.count()
                           << " ms of " << first_run.count() << exits << ")";
    }
    std::printf("| %-48s | %6d | %8zu | %6zu | %8zu |\n", pairing.title, rounds, commits, exit1,
                failures);
  }
}

}  // namespace
}  // namespace campaigns
