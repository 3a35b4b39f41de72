// Crash campaigns: each program killed before CRASH_POINTS (default 6)
// file-changing calls spread over its run, on CRASH_ASSAYS (default 300);
// `make crashtest`: 250 points on 5,000 assays.
#include <gtest/gtest.h>

#include <iostream>

#include "platform/core/error.h"
#include "tests/campaigns/harness.h"

namespace campaigns {
namespace {

const char kUnsound[] = "unsound: ";

// Integrity, then schema and rows: what the next program meets once SQLite
// has rolled back a crash's journal. An unsound file's state never equals a sound one.
std::string StateOf(const std::string& path) {
  if (!Exists(path)) return std::string(kUnsound) + "the database file is missing";
  try {
    const std::string integrity =
        platform::engine::Database::Open(path).Query("PRAGMA integrity_check").rows[0][0].ToText();
    return integrity == "ok" ? DumpDatabase(path) : kUnsound + integrity;
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

// One program's run; `arrange` makes the fixture and the program folder's
// files for CRASH_ASSAYS and returns the title. CatalogSync changes the
// database in one transaction: as before or as after at every kill
// (`all_or_nothing`). Reshaper rolls no step back: sound, and the rerun must finish it.
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

// The run once whole and once more over its own result, then killed at
// points spread over its file changes, first and last included. After each
// kill: the database sound (and as before or as after where all or nothing);
// the package file the old or the new one whole, the database changed only
// from the new one; a marker only after the run had finished its changes.
// Then a rerun that succeeds, reaches the state of a whole run (of two when
// the killed one had finished its changes) and leaves the same files as a whole run.
void RunCampaign(const Scenario& s) {
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
  const std::string after = state(), new_package = ReadFile(package), listing = Listing(ws);
  ASSERT_EQ(run(0).exit_status, 0) << title << ": a second run failed";
  const std::string after_twice = state();
  ASSERT_NE(after, before) << title << ": the run changed nothing";

  const auto wrong_after = [&](int point) -> std::string {
    reset();
    if (!run(point).killed) return "the run ended before the point";
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
    const int rerun = run(0).exit_status;
    if (rerun != 0) return "the rerun failed with exit status " + std::to_string(rerun);
    if (state() != (killed == after ? after_twice : after))
      return "the rerun did not reach the state of a whole run";
    const std::string files = Listing(ws);
    return files == listing ? "" : "the rerun left files " + files + " instead of " + listing;
  };
  const int total = whole.file_changes;
  const int points = std::min(total, IntSetting("CRASH_POINTS", 6));
  int consistent = 0;
  for (int i = 0; i < points; ++i) {
    const int point = points == total ? i + 1
                      : points == 1
                          ? total
                          : 1 + static_cast<int>(std::int64_t{i} * (total - 1) / (points - 1));
    const std::string wrong = wrong_after(point);
    consistent += wrong.empty();
    if (!wrong.empty())
      ADD_FAILURE() << title << ": kill point " << point << " of " << total << ": " << wrong;
  }
  std::cout << title << ": " << points << " kill points over " << total << " file changes, "
            << consistent << " consistent\n";
}

TEST(CrashTest, EveryKillLeavesSoundFilesThatARerunFinishes) {
  for (const Scenario& s : kScenarios) RunCampaign(s);
}

}  // namespace
}  // namespace campaigns
