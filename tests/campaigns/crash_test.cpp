// Crash campaigns: each program killed before CRASH_POINTS (default 6)
// file-changing calls spread over its run, on CRASH_ASSAYS (default 300);
// `make crashtest`: 250 points on 5,000 assays.
#include <gtest/gtest.h>

#include <iostream>

#include "platform/core/error.h"
#include "tests/campaigns/harness.h"

namespace campaigns {
namespace {

using testing_support::Exists;
using testing_support::ReadFile;

const char kUnsound[] = "unsound: ";

// Integrity, then schema and rows of the database file: what a program that
// opens it next meets, after SQLite has rolled back a journal left by a
// crash. An unsound file's state never equals a sound one.
std::string StateOf(const std::string& path) {
  if (!Exists(path)) return std::string(kUnsound) + "the database file is missing";
  try {
    const std::string integrity =
        platform::engine::Database::Open(path).Query("PRAGMA integrity_check").rows[0][0].ToText();
    return integrity == "ok" ? testing_support::DumpDatabase(path) : kUnsound + integrity;
  } catch (const platform::Error& e) {
    return kUnsound + e.description();
  }
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

// One program's run. `arrange` makes the fixture and the program folder's
// files for `size` (CRASH_ASSAYS) and returns the title.
struct Scenario {
  const char* variable;
  const char* program;
  const char* args;
  // CatalogSync changes the database in one transaction: as before or as
  // after at every kill. Reshaper rolls no step back: sound, and the rerun
  // must finish it.
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
       const std::string gz =
           testing_support::SourceDir() + "/bench/workbook_import/catalog-500.xls.gz";
       testing_support::WriteFile(ws.InProgram("CatalogSync.xls"),
                                  testing_support::Run("/usr/bin/env", {"gzip", "-dc", gz}).out);
       testing_support::CatalogBuilder old_catalog;
       old_catalog.Add(7, "OLD", "ADD");
       old_catalog.WritePackage(ws.InProgram("CatalogSync.dat"));
       return "CatalogSync QVR (500 sheets, " + std::to_string(2 * size) + " tests)";
     }},
    {"RESHAPER_BIN", "Reshaper", "INSTALL,QUERY,STRUCTURE,VERSION", false,
     [](Workstation& ws, int tests) {
       ws.MakeFixture("fixture.mdb", tests);
       ws.MakeShell(ws.program_folder(), "InstallShell");
       return "Reshaper INSTALL,QUERY,STRUCTURE,VERSION (" + std::to_string(tests) + " tests)";
     }},
};

// The run once whole and once more over its own result, then killed at
// points spread over its file changes. After each kill: the database sound
// (and as before or as after where all or nothing); the package file the old
// or the new one whole, the database changed only from the new one; a marker
// only after the run had finished its changes. Then a rerun that succeeds,
// reaches the state of a whole run (of two when the killed one had finished
// its changes) and leaves the same files as a whole run.
void RunCampaign(const Scenario& s) {
  Workstation ws;
  ws.Install(s.variable, s.program);
  const std::string title = s.arrange(ws, testing_support::IntSetting("CRASH_ASSAYS", 300));
  const std::string package = ws.InProgram("CatalogSync.dat");
  const std::string old_package = ReadFile(package);  // "" when there is none
  // LeakSanitizer cannot work in a traced process (it traces the process
  // itself at exit); the programs' leaks are checked by their other tests.
  Command command = ws.CommandOf(ws.InProgram(s.program), s.args);
  command.env["ASAN_OPTIONS"] = "detect_leaks=0";
  const auto reset = [&] {
    ws.Reset(ws.Sub("fixture.mdb"));
    if (!old_package.empty()) testing_support::WriteFile(package, old_package);
  };
  const auto state = [&] { return StateOf(ws.database()); };

  reset();
  const std::string before = state();
  reset();  // reading the state may have touched the files
  const TracedRun whole = RunTraced(command, 0);
  ASSERT_TRUE(!whole.killed && whole.exit_status == 0) << title << ": the whole run failed";
  const std::string after = state(), new_package = ReadFile(package), listing = Listing(ws);
  ASSERT_EQ(RunTraced(command, 0).exit_status, 0) << title << ": a second run failed";
  const std::string after_twice = state();
  ASSERT_NE(after, before) << title << ": the run changed nothing";

  const auto wrong_after = [&](int point) -> std::string {
    reset();
    if (!RunTraced(command, point).killed) return "the run ended before the point";
    const std::string killed = state(), bytes = ReadFile(package);
    if (killed.starts_with(kUnsound)) return "after the kill: " + killed;
    if (s.all_or_nothing && killed != before && killed != after)
      return "after the kill: the database is neither as before nor as after";
    if (bytes != old_package && bytes != new_package)
      return "after the kill: the package file is neither the old nor the new one";
    if (killed == after && bytes != new_package)
      return "after the kill: the database was changed from a package that was not written";
    if (Exists(ws.marker(s.program)) && killed != after)
      return "after the kill: a completion marker, but the run had not finished";
    const int rerun = RunTraced(command, 0).exit_status;
    if (rerun != 0) return "the rerun failed with exit status " + std::to_string(rerun);
    if (state() != (killed == after ? after_twice : after))
      return "the rerun did not reach the state of a whole run";
    const std::string files = Listing(ws);
    return files == listing ? "" : "the rerun left files " + files + " instead of " + listing;
  };
  const std::vector<int> points =
      SpreadPoints(whole.file_changes, testing_support::IntSetting("CRASH_POINTS", 6));
  std::size_t consistent = 0;
  for (int point : points) {
    const std::string wrong = wrong_after(point);
    consistent += wrong.empty();
    if (!wrong.empty())
      ADD_FAILURE() << title << ": kill point " << point << " of " << whole.file_changes << ": "
                    << wrong;
  }
  std::cout << title << ": " << points.size() << " kill points over " << whole.file_changes
            << " file changes, " << consistent << " consistent\n";
}

TEST(CrashTest, EveryKillLeavesSoundFilesThatARerunFinishes) {
  for (const Scenario& s : kScenarios) RunCampaign(s);
}

}  // namespace
}  // namespace campaigns
