// Reshaper as the real program, one row a whole run in a Sandbox: what the row arranges, then
// the exit status, the exact standard error, the log, the target and the files left. Where
// ShellPackage's plan can foresee the run, the row plans it first and holds it against the run.
// Below them, the steps on a target and a shell opened as the driver holds them: the positions,
// conversions and boundaries behind a step's result, which the rows cannot show.
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>

#include "platform/core/error.h"
#include "platform/history/reader.h"
#include "platform/history/writer.h"
#include "reshaper/mod_procedures.h"
#include "tests/reshaper/shells.h"
#include "tests/support/databases.h"
#include "tests/support/history.h"
#include "tests/support/sandbox.h"
#include "tests/support/scoped_mount.h"

namespace reshaper_test {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace reshaper;
using nlohmann::json;
using platform::Value;
using platform::engine::SavedQuery;
using platform::history::ChangeKind;
using platform::history::RunRecord;

// Adds two fields and a version field, fills them by default data (one
// statement hits an existing key and is skipped), stamps 2.0.0.
constexpr const char* kInstallShell = R"sql(
INSERT INTO StructureInfo VALUES
  ('Tests', 'Tests_Reflex', 'BOOLEAN', NULL, '0', NULL, NULL, NULL, NULL),
  ('Tests', 'Tests_Note', 'text', '40', NULL, NULL, NULL, NULL, NULL),
  ('SoftwareVersion', 'Version_Build', 'LONG', NULL, NULL, NULL, NULL, NULL, NULL);
INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Number', '2.0.0');
INSERT INTO DefaultData VALUES ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (3, ''ALT'')'),
  ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, ''DUP'')'),
  ('UPDATE SoftwareVersion SET Version_Build = 7');)sql";
// Removes Tests_Name; its default data would empty Tests if it ever ran.
constexpr const char* kEruShell = R"sql(
INSERT INTO StructureInfo ("Table", Name) VALUES ('Tests', 'Tests_Name'), ('Tests', 'Tests_Gone');
INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Number', '0.9.0');
INSERT INTO DefaultData VALUES ('DELETE FROM Tests');)sql";
const std::vector<SavedQuery> kInstallQueries{{"QTests", "SELECT Tests_ID, Tests_Name FROM Tests"}};
// Free pages, which only a compaction takes away.
constexpr const char* kSpare =
    "CREATE TABLE Spare (B BINARY); INSERT INTO Spare VALUES (zeroblob(200000)); DROP TABLE Spare;";

bool IsRowChange(const platform::history::Change& change) {
  return change.kind == platform::history::ChangeKind::kInsert ||
         change.kind == platform::history::ChangeKind::kUpdate ||
         change.kind == platform::history::ChangeKind::kDelete;
}

bool Regular(const std::string& path) {
  return fs::is_regular_file(fs::symlink_status(path));
}

// The workstation of one row; the marker of an earlier run is there.
struct Fx {
  Sandbox box;
  std::optional<Database> user;      // another program holding a file open
  std::optional<ScopedMount> mount;  // a fault that needs a mount
  std::string log = box.logs() + "/QVRInstall.log", marker = box.marker("Reshaper");
  std::string outside = box.Sub("outside.txt"), nowhere = box.Sub("nowhere.txt");
  std::string history = box.logs() + "/ChangeHistory.db";

  Fx() {
    box.Install("RESHAPER_BIN", "Reshaper");
    MakeFolders(box.logs());
    MakeDatabase(box.database(), kTargetTables);
    Target(kSpare);
    Shell("InstallShell", kInstallShell, kInstallQueries);
    Shell("ERUShell", kEruShell, {{"QEru", "SELECT Tests_ID FROM Tests"}});
    WriteFile(marker, "");
  }
  std::string Program(const std::string& shell) const { return box.InProgram(shell + ".mdb"); }
  std::string Db(const std::string& name) const { return box.databases() + "/" + name; }
  void Target(const std::string& sql) const { Database::Open(box.database()).Exec(sql); }
  void Shell(const std::string& shell, const std::string& sql,
             const std::vector<SavedQuery>& queries = {}) const {
    fs::remove(Program(shell));
    MakeShell(Program(shell), sql, queries);
  }
  // The example database and shells, built by the sqlite3 tool as a release is.
  void UseExamples() const {
    for (const auto& [db, script] : {std::pair{Program("InstallShell"), "InstallShell.sql"},
                                     {Program("ERUShell"), "ERUShell.sql"},
                                     {box.database(), "analyser-sample-data.sql"}}) {
      fs::remove(db);
      for (const std::string sql : {"analyser-schema.sql", script})
        EXPECT_EQ(Sqlite3Script(db, SourceDir() + "/examples/" + sql).exit_status, 0) << sql;
    }
  }
};

constexpr const char* kUntouched = "1.0.0 / ID Name / GLU,CHOL / / same";

struct Row {
  const char* name;
  std::vector<std::string> args;
  const char* shell = "";  // SQL run last on the install shell
  void (*arrange)(Fx&) = nullptr;
  int status = 0;
  const char* err = "";                // exactly; %D database folder, %P program folder, %R sandbox
  const char* state = kUntouched;      // State() after the run
  bool plan = false;                   // ShellPackage's plan foresees the run
  bool logged = true;                  // the run appends its start (and box) to the log
  const char* probe = nullptr;         // "<SQL>=<value>" on the target after the run
  const char* rows_changed = nullptr;  // by the plan, per default-data statement
  bool pipe = false;                   // standard error is a pipe whose reader is gone
  // The run's record in the change history besides its rows, a line each (HistoryLines); "-":
  // the run adds none. Any run it adds is held against the target's difference (ExpectRecorded).
  const char* history = nullptr;
  friend void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }
};

std::string Expand(std::string text, const Fx& f) {
  const std::string nested = std::string(20000, '(') + ">0" + std::string(20000, ')');
  for (const auto& [key, value] : {std::pair{"%T", f.box.database()},
                                   {"%D", f.box.databases()},
                                   {"%P", f.box.program_folder()},
                                   {"%R", f.box.root()},
                                   {"%L", f.box.logs()},
                                   {"%N", nested}})
    for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, 2, value);
  return text;
}

// The target in one line: "version [build B] / Tests' fields without "Tests_" (their count
// beyond 8) / the tests' names (or count) / saved queries ("(text only)": no view) / [compacted]
// [replaced] [same: the bytes from before] [damaged], the database folder's other files, [marker]".
std::string State(const Fx& f, const std::string& bytes_before, bool replaced) {
  std::string files, flags = replaced ? " replaced" : "";
  for (const auto& entry : fs::directory_iterator(f.box.databases()))
    if (entry.path() != f.box.database()) files += " " + entry.path().filename().string();
  if (Regular(f.marker)) files += " marker";
  if (!Exists(f.box.database())) return "no target /" + files;
  if (ReadFile(f.box.database()) == bytes_before) flags += " same";
  try {
    Database db = Database::Open(f.box.database());
    auto value = [&](const std::string& sql) { return QueryValue(db, sql); };
    std::string state = value("SELECT Version_Number FROM SoftwareVersion").ToText();
    if (platform::engine::TableFields(db, "SoftwareVersion").size() > 2)
      state += " build " + value("SELECT Version_Build FROM SoftwareVersion").Describe();
    const auto fields = platform::engine::TableFields(db, "Tests");
    state += fields.size() > 8 ? " / " + std::to_string(fields.size()) + " fields" : " /";
    for (std::size_t i = 0; fields.size() <= 8 && i < fields.size(); ++i)
      state += " " + fields[i].name.substr(fields[i].name.find('_') + 1);
    const char* names =
        fields.size() > 1 && fields[1].name == "Tests_Name"
            ? "SELECT group_concat(Tests_Name) FROM (SELECT * FROM Tests ORDER BY 1)"
            : "SELECT count(*) FROM Tests";
    state += " / " + value(names).ToText() + " /";
    const std::string views = DumpRows(db, "SELECT name FROM sqlite_schema WHERE type = 'view'");
    for (const auto& q : platform::engine::SavedQueries(db))
      state += " " + q.name + (views.find(q.name + "\n") == std::string::npos ? "(text only)" : "");
    if (value("PRAGMA freelist_count").ToText() == "0") flags = " compacted" + flags;
    if (value("PRAGMA quick_check").ToText() != "ok") flags += " damaged";
    return state + " /" + flags + files;
  } catch (const platform::Error&) {
    return "unreadable:" + flags + files;
  }
}

// Every table's fields, and (under " queries") the saved queries, sorted.
std::map<std::string, std::vector<std::string>> Schema(const std::string& path) {
  Database db = Database::Open(path);
  std::map<std::string, std::vector<std::string>> schema;
  for (const auto& t : db.Query("SELECT name FROM sqlite_schema WHERE type = 'table'").rows)
    for (const auto& field : platform::engine::TableFields(db, t[0].text()))
      schema[t[0].text()].push_back(field.name);
  auto& queries = schema[" queries"];
  for (const auto& query : platform::engine::SavedQueries(db)) queries.push_back(query.name);
  std::sort(queries.begin(), queries.end());
  return schema;
}

// The run did what ShellPackage's plan foresaw: the same failure, or the same fields, queries,
// version, default data and compacted size.
void ExpectPlanned(const Fx& f, const json& plan, const RunResult& run,
                   std::map<std::string, std::vector<std::string>> schema) {
  const json& failed = plan["failure"];
  std::string failure =
      failed.is_null() ? "" : "Reshaper: " + failed["message"].get<std::string>() + "\n";
  for (const auto& d : failed.is_null() ? json::array() : failed["details"])
    failure +=
        "detail: " + d["what"].get<std::string>() + ": " + d["value"].get<std::string>() + "\n";
  for (const auto& name : plan["queries_without_view"])
    failure += "detail: saved query without view: " + name.get<std::string>() + "\n";
  if (run.exit_status != 0) {
    EXPECT_NE(run.err.find(failure), std::string::npos) << failure;
  } else {
    EXPECT_EQ(run.err, failure);
    EXPECT_EQ(fs::file_size(f.box.database()),
              plan["size"]["after_compaction"].get<std::uintmax_t>());
  }
  for (const char* list : {"fields", "queries"})
    for (const auto& c : plan[list]) {
      auto& names = schema[c.contains("table") ? c["table"].get<std::string>() : " queries"];
      if (c["change"] == "added") names.push_back(c["name"]);
      if (c["change"] == "removed" || c["change"] == "deleted")
        names.erase(std::find(names.begin(), names.end(), c["name"]));
    }
  // A view that the run keeps as its text becomes a saved query.
  auto& queries = schema[" queries"];
  for (const auto& name : plan["queries_without_view"])
    if (std::find(queries.begin(), queries.end(), name) == queries.end()) queries.push_back(name);
  std::sort(queries.begin(), queries.end());
  auto after = Schema(f.box.database());
  for (const auto& [table, fields] : schema) EXPECT_EQ(after[table], fields) << table;
  // Each value the plan foresees, the version's last (its step runs after the default data); no
  // version step: the target's stays.
  Database db = Database::Open(f.box.database());
  const json version =
      plan["version"].is_null()
          ? json{{"table", "SoftwareVersion"}, {"field", "Version_Number"}, {"to", "1.0.0"}}
          : plan["version"];
  auto expect = [&](const json& table, const json& column, const json& want, std::string where) {
    const std::string sql = "SELECT \"" + column.get<std::string>() + "\" FROM \"" +
                            table.get<std::string>() + "\"" + where;
    const platform::Value value = QueryValue(db, sql);
    EXPECT_TRUE(want.is_null()     ? value.IsNull()
                : want.is_string() ? value.ToText() == want.get<std::string>()
                                   : value.ToDouble() == want.get<double>())
        << sql << " gave " << value.Describe();
  };
  expect(version["table"], version["field"], version["to"], "");
  for (const auto& statement : plan["default_data"])
    for (const auto& change : statement["changes"])
      for (std::size_t i = 0; change["kind"] != "deleted" && i < change["columns"].size(); ++i)
        if (change["columns"][i] != version["field"])
          expect(change["table"], change["columns"][i], change["new"][i],
                 " WHERE rowid = " + change["rowid"].dump());
}

// The runs in the change history at `path`, oldest first; none without one.
std::vector<platform::history::RunSummary> RunsIn(const std::string& path) {
  if (!Regular(path)) return {};
  return platform::history::HistoryReader(path).List();
}

// A run's records besides its rows, a line each: "<kind> <object>", with the definition of a
// field added or removed and the values of the version.
std::string HistoryLines(const RunRecord& run) {
  std::string lines;
  for (const auto& c : run.changes) {
    if (IsRowChange(c)) continue;
    lines += platform::history::KindName(c.kind);
    if (c.kind != ChangeKind::kCompaction) lines += " " + c.object;
    const auto& [column, from, to] = c.columns.at(0);
    if (c.kind == ChangeKind::kFieldAdded) lines += ": " + to.ToText();
    if (c.kind == ChangeKind::kFieldRemoved) lines += ": " + from.ToText();
    if (c.kind == ChangeKind::kVersion) lines += ": " + from.Describe() + " -> " + to.Describe();
    lines += "\n";
  }
  return lines;
}

// The saved queries with their SQL ("query <name>"), and the fields of the tables that `tables`
// names ("field <table>.<field>"), as the history's records name them.
std::map<std::string, std::string> Objects(
    const std::string& path, const std::map<std::string, std::vector<std::string>>& tables) {
  std::map<std::string, std::string> objects;
  Database db = Database::Open(path);
  for (const auto& query : platform::engine::SavedQueries(db))
    objects["query " + query.name] = query.sql;
  for (const auto& [table, unused] : tables)
    if (table != " queries")
      for (const auto& field : platform::engine::TableFields(db, table))
        objects["field " + table + "." + field.name];
  return objects;
}

// The run's record in the history: its header names the run, its seal says exactly what the run
// showed and how it ended, its row changes are the target's difference over the columns it had
// before and after, and its query, field, version and compaction records turn the target before
// into the target after (but for the views kept as saved queries, which the run names).
void ExpectRecorded(const Fx& f, const std::vector<std::string>& args, const RunRecord& run,
                    const std::string& before, const std::string& err, int status) {
  const std::string after = f.box.database();
  std::string line;
  for (const auto& arg : args) line += (line.empty() ? "" : " ") + arg;
  EXPECT_EQ(run.header.program, "Reshaper");
  EXPECT_EQ(run.header.command_line, line);
  EXPECT_EQ(run.header.database, after);
  EXPECT_EQ(run.header.source.rfind(f.box.program_folder() + "/", 0), 0u) << run.header.source;
  ASSERT_TRUE(run.seal.has_value());
  EXPECT_EQ(run.seal->end.message, err);
  EXPECT_EQ(run.seal->end.exit_status, status);
  EXPECT_EQ(run.seal->end.succeeded, status == 0);

  const auto [recorded, real] = CompareWithDatabase({run}, before, after);
  EXPECT_EQ(recorded, real);

  const auto tables_before = Schema(before);
  auto objects = Objects(before, tables_before);
  for (const auto& c : run.changes) {
    const std::string query = "query " + c.object, field = "field " + c.object;
    const auto& [column, from, to] = c.columns.at(0);
    const std::string first = "SELECT \"" + column + "\" FROM \"" +
                              c.object.substr(0, c.object.size() - column.size() - 1) +
                              "\" ORDER BY rowid LIMIT 1";
    switch (c.kind) {
      case ChangeKind::kQueryAdded:
        EXPECT_TRUE(objects.emplace(query, to.ToText()).second) << query;
        break;
      case ChangeKind::kQueryReplaced:
        EXPECT_EQ(objects[query], from.ToText()) << query;
        objects[query] = to.ToText();
        break;
      case ChangeKind::kFieldAdded: EXPECT_TRUE(objects.emplace(field, "").second) << field; break;
      case ChangeKind::kFieldRemoved: EXPECT_EQ(objects.erase(field), 1u) << field; break;
      case ChangeKind::kVersion:
        if (Objects(before, tables_before).count(field)) {
          EXPECT_EQ(QueryValue(before, first).ToText(), from.ToText());
        }
        EXPECT_EQ(QueryValue(after, first).ToText(), to.ToText());
        break;
      case ChangeKind::kCompaction:
        EXPECT_EQ(to.ToDouble(), static_cast<double>(fs::file_size(after)));
        break;
      default: break;
    }
  }
  const auto objects_after = Objects(after, tables_before);
  static const std::regex kept("detail: saved query without view: ([^\n]*)\n");
  for (std::sregex_iterator it(err.begin(), err.end(), kept), end; it != end; ++it)
    if (const std::string query = "query " + (*it)[1].str(); objects_after.count(query))
      objects.emplace(query, objects_after.at(query));
  EXPECT_EQ(objects, objects_after);
}

class ReshaperRun : public ::testing::TestWithParam<Row> {};

TEST_P(ReshaperRun, EndsAsTheRowSays) {
  const Row& r = GetParam();
  Fx f;
  if (*r.shell) f.Shell("InstallShell", kInstallShell + std::string(r.shell), kInstallQueries);
  if (r.arrange) r.arrange(f);
  ASSERT_FALSE(HasFatalFailure());
  if (f.mount) {
    SKIP_UNLESS_MOUNTED(*f.mount);
  }
  struct stat st {};
  auto inode = [&] { return ::stat(f.box.database().c_str(), &st) == 0 ? st.st_ino : 0; };
  const std::string log_before = Regular(f.log) ? ReadFile(f.log) : "";
  const bool logs_before = Exists(f.box.logs());
  const fs::perms log_perms = fs::symlink_status(f.log).permissions();
  const std::string bytes_before = Regular(f.box.database()) ? ReadFile(f.box.database()) : "";
  const ino_t inode_before = inode();
  const auto schema = r.plan ? Schema(f.box.database()) : decltype(Schema("")){};
  const std::size_t runs_before = RunsIn(f.history).size();
  // The target as the run finds it, a journal left beside it included.
  const std::string before = f.box.Sub("before.mdb");
  for (const std::string suffix : {"", "-journal"})
    if (fs::is_regular_file(f.box.database() + suffix))
      fs::copy_file(f.box.database() + suffix, before + suffix);
  // ShellPackage's plan leaves every file of the database and program folders as it was.
  auto snapshot = [&] {
    std::map<std::string, std::string> files;
    for (const std::string& folder : {f.box.databases(), f.box.program_folder()})
      for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path()] = ReadFile(entry.path());
    return files;
  };
  json plan;
  if (r.plan) {
    const auto before = snapshot();
    std::string line;
    for (const auto& arg : r.args) line += (line.empty() ? "" : " ") + arg;
    const RunResult run =
        testing_support::Run(BinaryFromEnv("SHELLPACKAGE_BIN"),
                             {"plan", line, f.box.program_folder(), f.box.database(), "--json"});
    EXPECT_TRUE(snapshot() == before) << "the plan changed a file or left one behind";
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, r.status ? 1 : 0) << run.out;
    plan = json::parse(run.out);
  }
  const RunResult run = f.box.Run(
      "Reshaper", r.args, r.pipe ? StandardError::kPipeWithoutReader : StandardError::kFile);
  const bool replaced = inode() != inode_before;  // before a tmpfs goes
  f.user.reset();
  f.mount.reset();
  EXPECT_EQ(run.exit_status, r.status);
  EXPECT_EQ(run.out, "");
  const std::string err = Expand(r.err, f);
  EXPECT_EQ(run.err, r.pipe ? "" : err);
  // The message box's line, which a status of 1 logs.
  const std::size_t at = std::min(err.find("Reshaper: "), err.size());
  const std::string box = err.substr(at, err.find('\n', at) + 1 - at);
  // The log: the lines from before, then the run's lines, each its text, a blank, a date and
  // time, and CR LF; not logged: as it was.
  EXPECT_EQ(Exists(f.box.logs()), logs_before || r.logged);
  const std::string log = Regular(f.log) ? ReadFile(f.log) : "";
  ASSERT_EQ(log.substr(0, log_before.size()), log_before);
  static const std::regex stamp(R"(([^\r\n]*) \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\r\n)");
  EXPECT_EQ(std::regex_replace(log.substr(log_before.size()), stamp, "$1\n"),
            r.logged ? "Reshaper program start\n" + (r.status == 1 ? box.substr(10) : "") : "");
  EXPECT_EQ(r.logged ? log_perms : fs::symlink_status(f.log).permissions(), log_perms);
  EXPECT_EQ(State(f, bytes_before, replaced), r.state);
  const std::string planted = "not the program's";  // where an arrange made it
  EXPECT_EQ(Exists(f.outside) ? ReadFile(f.outside) : planted, planted);
  EXPECT_FALSE(Exists(f.nowhere));
  // The history: at most one run more, which holds what the run did.
  const auto runs = RunsIn(f.history);
  ASSERT_LE(runs.size(), runs_before + 1);
  std::optional<RunRecord> recorded;
  if (runs.size() > runs_before) {
    recorded = platform::history::HistoryReader(f.history).Read(runs.back().number);
    ASSERT_TRUE(recorded.has_value());
    ExpectRecorded(f, r.args, *recorded, before, err, r.status);
  }
  if (r.history) {
    EXPECT_EQ(recorded ? HistoryLines(*recorded) : "-", r.history);
  }
  if (const std::string probe = r.probe ? r.probe : ""; r.probe) {
    EXPECT_EQ(QueryValue(f.box.database(), probe.substr(0, probe.rfind('='))).ToText(),
              probe.substr(probe.rfind('=') + 1));
  }
  if (!r.plan) return;
  ExpectPlanned(f, plan, run, schema);
  std::string counts;
  for (const auto& s : plan["default_data"]) counts += s["rows_changed"].dump() + " ";
  EXPECT_EQ(counts, r.rows_changed ? r.rows_changed : counts);
}

// clang-format off
constexpr const char* kVersioned = "2.0.0 / ID Name / GLU,CHOL / / compacted marker";
constexpr const char* kDataFailed = "1.0.0 build 7 / ID Name Reflex Note / GLU,CHOL,ALT / /";
constexpr const char* kQueried = "1.0.0 / ID Name / GLU,CHOL / QTests / compacted marker";
constexpr const char* kQueryOverNote = "CREATE TABLE SavedQueries (Name TEXT(255) NOT NULL, SQL "
    "MEMO NOT NULL); INSERT INTO SavedQueries VALUES ('QNotes', 'SELECT Tests_Note FROM Tests');";
constexpr const char* kEarlierLog = "Reshaper program start 2020-01-01 00:00:00\r\n";
constexpr const char* kDoubleFiller =
    "INSERT INTO DefaultData VALUES ('INSERT INTO Filler SELECT Note FROM Filler');";
void NoEruShell(Fx& f) { fs::remove(f.Program("ERUShell")); }
void ReadOnlyTarget(Fx& f) { ChmodFile(f.box.database(), 0444); }
void FillSmallDisk(Fx& f) {
  AddFiller(f.box.database());
  f.Target(kSpare);
  f.mount.emplace(ScopedMount::SmallDisk(f.box.databases(),
      fs::file_size(f.Program("InstallShell")) + fs::file_size(f.box.database()) / 2));
}
#define HOSTILE_RULE "DELETE FROM StructureInfo; INSERT INTO StructureInfo (\"Table\", Name, " \
  "DataType, ValidationRule) VALUES ('Tests', 'Tests_Level', 'LONG', "
#define ABORTED " Reshaper Aborted\n"
#define UNEXPECTED "Reshaper: An Unexpected Error Occured While Updating the Database." ABORTED
#define PARAMETER "Reshaper: Parameter Error." ABORTED
#define USAGE "detail: usage: Reshaper INSTALL|ERU[,QUERY][,STRUCTURE][,VERSION]\n"
#define MISSING "Reshaper: Corvista1k.mdb is Missing." ABORTED "detail: file: %T\n"
#define QUERIES "Reshaper: Error Creating New Queries." ABORTED "detail: step: query creation\n" \
  "detail: query: QTests\ndetail: sql: SELECT Tests_ID, Tests_Name FROM Tests\n"
#define STRUCTURE "Reshaper: Unable to Update the Database Structure." ABORTED \
  "detail: step: structure update\n"
#define RULE STRUCTURE "detail: row: 1: table \"Tests\", name \"Tests_Level\", type \"LONG\"\n" \
  "detail: engine: 3006 The validation rule cannot be translated\ndetail: validation rule: "
#define DEFAULT_DATA "Reshaper: Unable to Update the Default Data." ABORTED \
  "detail: step: default data\n"
#define COMPACTION "Reshaper: Unable to Compact the Database." ABORTED \
  "detail: step: compaction\ndetail: database: %T\n" \
  "detail: scratch file: %D/Temp.mdb\n"
#define IN_USE "detail: engine: 3007 The name is already in use\ndetail: name: QTests\n" \
  "detail: in use by: qtests\n"
#define HISTORY "detail: history: %L/ChangeHistory.db\n"
// The records of the install shell's query and fields in the history.
#define INSTALL_RECORD "query added QTests\nfield added Tests.Tests_Reflex: YESNO, default \"0\"\n" \
  "field added Tests.Tests_Note: TEXT(40)\nfield added SoftwareVersion.Version_Build: LONG\n"
#define NO_DATABASE \
  "detail: error: 26 file is not a database\ndetail: SQL: PRAGMA journal_mode=DELETE\n"

const Row kRows[] = {
    {.name = "FullInstall", .args = {"INSTALL,QUERY,STRUCTURE,VERSION"}, .state = "2.0.0 build 7 / "
     "ID Name Reflex Note / GLU,CHOL,ALT / QTests / compacted marker", .plan = true,
     .rows_changed = "1 0 1 ", .history = INSTALL_RECORD "version SoftwareVersion.Version_Number: "
     "\"1.0.0\" -> \"2.0.0\"\ncompaction\n"},
    {.name = "WordsIgnoreCaseAndSpaces", .args = {" install , structure "}, .state = "1.0.0 build "
     "7 / ID Name Reflex Note / GLU,CHOL,ALT / / compacted marker", .plan = true},
    // The ERU shell's default data would empty Tests: it never runs.
    {.name = "Eru", .args = {"ERU,QUERY,STRUCTURE,VERSION"}, .state = "0.9.0 / ID / 2 / QEru / "
     "compacted marker", .plan = true, .history = "query added QEru\nfield removed Tests.Tests_Name: "
     "TEXT(10)\nversion SoftwareVersion.Version_Number: \"1.0.0\" -> \"0.9.0\"\ncompaction\n"},
    // The version lands in a field the structure step adds, after the default data wrote it.
    {.name = "StructureRunsBeforeVersionWhateverTheWordOrder", .args = {
     "VERSION,STRUCTURE,INSTALL"}, .shell = "UPDATE VersionInfo SET FieldName = 'Version_Build', "
     "VersionNumber = '42';", .state = "1.0.0 build 42 / ID Name Reflex Note / GLU,CHOL,ALT / / "
     "compacted marker", .plan = true},
    // The install shell's working copy, made for the first word, is never deleted.
    {.name = "LastModeWordChoosesTheShell", .args = {"INSTALL,ERU,QUERY"}, .state = "1.0.0 / ID "
     "Name / GLU,CHOL / QEru / compacted InstallShell.mdb marker", .plan = true},
    {.name = "ArgumentsAreJoinedWithOneBlank", .args = {"INSTALL,", "QUERY"}, .state = kQueried,
     .plan = true},
    {.name = "QueriesReplacedAddedKept", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     Database db = Database::Open(f.box.database()); platform::engine::CreateSavedQuery(db,
     "QTests", "SELECT Tests_ID FROM Tests"); platform::engine::CreateSavedQuery(db, "QOwn",
     "SELECT Version_Number FROM SoftwareVersion"); db.Close(); f.Shell("InstallShell", "",
     {kInstallQueries[0], {"QUpper", "UPDATE Tests SET Tests_Name = UCASE(Tests_Name)"}});
     EXPECT_EQ(f.box.Run("Reshaper", {"INSTALL,QUERY"}).exit_status, 0); }, .state = "1.0.0 / ID "
     "Name / GLU,CHOL / QOwn QTests QUpper(text only) / compacted marker", .plan = true, .probe =
     "SELECT count(*) FROM pragma_table_info('QTests')=2"},
    // A SELECT the target cannot run stays a text; an action query stops the step after those.
    {.name = "ActionQueryTheTargetCannotRun", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     f.Shell("InstallShell", "CREATE TABLE ShellOnly (X LONG);", {kInstallQueries[0],
     {"QShellOnly", "SELECT X FROM ShellOnly"}, {"QClear", "UPDATE ShellOnly SET X = 0"},
     {"QLater", "SELECT 2"}}); }, .status = 1, .err = "Reshaper: Error Creating New Queries."
     ABORTED "detail: step: query creation\ndetail: query: QClear\ndetail: engine: 1 no such "
     "table: ShellOnly\ndetail: SQL: UPDATE ShellOnly SET X = 0\n", .state = "1.0.0 / ID Name / "
     "GLU,CHOL / QTests QShellOnly(text only) /", .plan = true},
    // In place: reached through a link, the link stays and the file it names keeps its inode.
    {.name = "TargetThroughALink", .args = {"INSTALL,VERSION"}, .arrange = [](Fx& f) {
     const std::string real = f.box.Sub("elsewhere/Corvista1k.mdb", true);
     fs::rename(f.box.database(), real); fs::create_symlink(real, f.box.database()); },
     .state = kVersioned},
    // A stale lock file, a read-only scratch file and a hot journal left by an earlier run go.
    {.name = "EarlierRunLeftovers", .args = {"INSTALL,VERSION"}, .arrange = [](Fx& f) {
     WriteFile(f.Db("Temp.mdb"), "left by an earlier run"); ChmodFile(f.Db("Temp.mdb"), 0444);
     LeaveHotJournal(f.box.database()); }, .err = "detail: stale lock file removed: "
     "%D/Corvista1k.ldb\n", .state = kVersioned, .probe = "SELECT count(*) FROM Filler WHERE Note "
     "= 'HALF-WRITTEN'=0"},
    // Parameter errors: the working copy made for a mode word is deleted.
    {.name = "ModeWordAlone", .args = {"INSTALL"}, .status = 2, .err = PARAMETER "detail: command "
     "line: \"INSTALL\"\ndetail: cause: fewer than two words\n" USAGE, .plan = true},
    {.name = "NoModeWord", .args = {"QUERY,VERSION"}, .status = 2, .err = PARAMETER "detail: "
     "command line: \"QUERY,VERSION\"\ndetail: cause: no mode word INSTALL or ERU\n" USAGE,
     .plan = true},
    {.name = "TrailingComma", .args = {"INSTALL,STRUCTURE,"}, .status = 2, .err = PARAMETER
     "detail: word: \"\"\ndetail: cause: not a keyword\n" USAGE, .plan = true},
    // The words are read as the shell passed them: quotation marks stay part of a word.
    {.name = "QuotedLine", .args = {"\"INSTALL,QUERY\""}, .status = 2, .err = PARAMETER
     "detail: word: \"\"INSTALL\"\ndetail: cause: not a keyword\n" USAGE, .plan = true},
    // The marker of an earlier run goes before any check; the log keeps its lines.
    {.name = "MissingTarget", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     fs::remove(f.box.database()); WriteFile(f.log, kEarlierLog); }, .status = 1, .err = MISSING,
     .state = "no target /"},
    {.name = "LockFileOfALiveUser", .args = {"INSTALL,STRUCTURE"}, .arrange = [](Fx& f) {
     f.user.emplace(Database::Open(f.box.database())); }, .status = 1, .err = "Reshaper: The "
     "Corvista1k.mdb Database is locked. Reshaper Aborted\ndetail: lock file: "
     "%D/Corvista1k.ldb\ndetail: cause: a running program has the database open\n"},
    {.name = "ReadOnlyMarkerStays", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     ChmodFile(f.marker, 0444); }, .status = 1, .err = UNEXPECTED "detail: error: 70 Permission "
     "denied\ndetail: file: %R/drive/Reshaper.txt\ndetail: system: the file is read-only\n",
     .state = "1.0.0 / ID Name / GLU,CHOL / / same marker"},
    // Read-only by its mode bits also for root; the working copy goes.
    {.name = "ReadOnlyTarget", .args = {"INSTALL,QUERY,STRUCTURE,VERSION"},
     .arrange = ReadOnlyTarget, .status = 1, .err = QUERIES "detail: engine: 8 attempt to write a "
     "readonly database\ndetail: SQL: CREATE TABLE IF NOT EXISTS SavedQueries (Name TEXT(255) NOT "
     "NULL, SQL MEMO NOT NULL)\ndetail: read-only: %T (mode 0444)\n", .plan = true},
    // A run with nothing else to write is not let compact it either.
    {.name = "ReadOnlyTargetIsNotCompacted", .args = {"ERU,ERU"}, .arrange = ReadOnlyTarget,
     .status = 1, .err = COMPACTION "detail: engine: 8 attempt to write a readonly "
     "database\ndetail: SQL: VACUUM\ndetail: read-only: %T (mode 0444)\ndetail: database: %T\n"},
    // A failing step: the steps before it stay done, none after it runs.
    {.name = "FailingStructureRow", .args = {"INSTALL,QUERY,STRUCTURE,VERSION"}, .shell = "INSERT "
     "INTO StructureInfo (\"Table\", Name, DataType) VALUES ('Tests', 'Tests_Comment', 'MEMO');",
     .status = 1, .err = STRUCTURE "detail: row: 4: table \"Tests\", name \"Tests_Comment\", type "
     "\"MEMO\"\ndetail: cause: the type word is none of the known words\n", .state = "1.0.0 build "
     "Null / ID Name Reflex Note / GLU,CHOL / QTests /", .plan = true, .history = INSTALL_RECORD},
    {.name = "QueryClashingInLetterCase", .args = {"INSTALL,QUERY,VERSION"}, .arrange = [](Fx& f) {
     Database db = Database::Open(f.box.database()); platform::engine::CreateSavedQuery(db,
     "qtests", "SELECT 1"); }, .status = 1, .err = QUERIES IN_USE, .state = "1.0.0 / ID Name / "
     "GLU,CHOL / qtests / same", .plan = true},
    {.name = "QueryClashingWithATable", .args = {"INSTALL,QUERY,VERSION"}, .arrange = [](Fx& f) {
     f.Target("CREATE TABLE qtests (X LONG);"); }, .status = 1, .err = QUERIES IN_USE,
     .plan = true},
    // The statement after the failing one does not run (it would empty Tests).
    {.name = "FailingDefaultData", .args = {"INSTALL,STRUCTURE,VERSION"}, .shell = "INSERT INTO "
     "DefaultData VALUES ('DELETE FROM Nowhere'), ('DELETE FROM Tests');", .status = 1,
     .err = DEFAULT_DATA "detail: statement: 4: \"DELETE FROM Nowhere\"\ndetail: engine: 1 no such "
     "table: Nowhere\ndetail: SQL: DELETE FROM Nowhere\n", .state = kDataFailed, .plan = true},
    // Deleting a field keeps the text of another program's view over it.
    {.name = "DeletedFieldKeepsOtherViews", .args = {"ERU,QUERY,STRUCTURE"}, .arrange = [](Fx& f) {
     f.Target("CREATE VIEW Names AS SELECT Tests_Name FROM Tests;"); }, .err = "detail: saved "
     "query without view: Names\n", .state = "1.0.0 / ID / 2 / QEru Names(text only) / compacted "
     "marker", .plan = true},
    // A query over a field the run adds gets its view after the structure step, else a text.
    {.name = "QueryOverAFieldTheRunAdds", .args = {"INSTALL,QUERY,STRUCTURE"},
     .shell = kQueryOverNote, .state = "1.0.0 build 7 / ID Name Reflex Note / GLU,CHOL,ALT / "
     "QNotes QTests / compacted marker", .plan = true},
    {.name = "QueryOverAFieldNoStepAdds", .args = {"INSTALL,QUERY"}, .shell = kQueryOverNote,
     .err = "detail: saved query without view: QNotes\n", .state = "1.0.0 / ID Name / GLU,CHOL / "
     "QNotes(text only) QTests / compacted marker", .plan = true},
    {.name = "DefaultDataSelect", .args = {"INSTALL,STRUCTURE,VERSION"}, .shell = "INSERT INTO "
     "DefaultData VALUES ('SELECT Tests_Name FROM Tests');", .status = 1, .err = DEFAULT_DATA
     "detail: statement: 4: \"SELECT Tests_Name FROM Tests\"\ndetail: engine: 3016 The statement "
     "changes no data\ndetail: SQL: SELECT Tests_Name FROM Tests\n", .state = kDataFailed,
     .plan = true},
    // Held to the declared types: nothing of a statement with a too long name stays.
    {.name = "DefaultDataThatDoesNotFit", .args = {"INSTALL,STRUCTURE,VERSION"}, .shell = "INSERT "
     "INTO DefaultData VALUES ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (8, ''FITS''), (9, "
     "''ABCDEFGHIJKLMNOPQRS'')');", .status = 1, .err = DEFAULT_DATA "detail: statement: 4: "
     "\"INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (8, 'FITS'), (9, "
     "'ABCDEFGHIJKLMNOPQRS')\"\ndetail: engine: 3001 The value does not fit the field\ndetail: "
     "table: Tests\ndetail: column: Tests_Name\ndetail: declared type: TEXT(10)\ndetail: value: "
     "\"ABCDEFGHIJKLMNOPQRS\"\n", .state = kDataFailed, .plan = true},
    // An empty default is none: an insert that omits the field is not refused as "".
    {.name = "EmptyDefaultIsNoDefault", .args = {"INSTALL,STRUCTURE,VERSION"}, .shell = "INSERT "
     "INTO StructureInfo VALUES ('Tests', 'Tests_Code', 'TEXT', '5', '', NULL, 0, NULL, NULL);",
     .state = "2.0.0 build 7 / ID Name Reflex Note Code / GLU,CHOL,ALT / / compacted marker",
     .plan = true},
    {.name = "FailingVersion", .args = {"INSTALL,VERSION"}, .shell = "DELETE FROM VersionInfo;",
     .status = 1, .err = "Reshaper: Unable to Update Software Version. Reshaper Aborted\ndetail: "
     "step: version update\ndetail: cause: VersionInfo has no rows\n", .plan = true},
    {.name = "FailingCompaction", .args = {"INSTALL,VERSION"}, .arrange = [](Fx& f) {
     MakeFolders(f.Db("Temp.mdb")); }, .status = 1, .err = COMPACTION "detail: engine: 57 Device "
     "I/O error\ndetail: file: %D/Temp.mdb\ndetail: system: unlink: Is a directory\n", .state =
     "2.0.0 / ID Name / GLU,CHOL / / Temp.mdb"},
    // A working copy that another program holds open is neither copied over nor deleted.
    {.name = "ShellCopyInUse", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     CopyFile(f.Program( "InstallShell"), f.Db("InstallShell.mdb"));
     f.user.emplace(Database::Open(f.Db( "InstallShell.mdb"))); }, .status = 1, .err = UNEXPECTED
     "detail: error: 70 Permission denied\ndetail: lock file: %D/InstallShell.ldb\ndetail: cause: "
     "a running program has the shell's working copy open\n", .state = "1.0.0 / ID Name / GLU,CHOL "
     "/ / same InstallShell.mdb"},
    {.name = "MissingShellSource", .args = {"ERU,STRUCTURE"}, .arrange = NoEruShell, .status = 1,
     .err = UNEXPECTED "detail: error: 53 File not found\ndetail: file: %P/ERUShell.mdb\ndetail: "
     "system: open: No such file or directory\n", .plan = true},
    // Nothing reads the messages: they fail, the clean-up still happens.
    {.name = "StandardErrorWithoutReader", .args = {"ERU,STRUCTURE"}, .arrange = NoEruShell,
     .status = 1, .err = UNEXPECTED, .pipe = true},
    // Checked before the working copy is made (a compaction would copy the damage): the last
    // row of a table is gone from its page, not yet from the file.
    {.name = "DamagedTarget", .args = {"INSTALL,STRUCTURE"}, .arrange = [](Fx& f) { f.Target(
     "CREATE TABLE Notes (Note MEMO); INSERT INTO Notes VALUES ('first'), ('second');");
     DamageDatabase(f.box.database(), Damage::kLoweredCellCount, "Notes"); }, .status = 1,
     .err = UNEXPECTED "detail: error: 11 database disk image is malformed\ndetail: database: "
     "%T\ndetail: problem: Fragmentation of 10 bytes reported as 0 on page 5\n", .state = "1.0.0 / "
     "ID Name / GLU,CHOL / / same damaged", .plan = true},
    // Neither waited on nor copied: a FIFO blocks, a device never ends.
    {.name = "FifoAsShellSource", .args = {"ERU,STRUCTURE"}, .arrange = [](Fx& f) { NoEruShell(f);
     ASSERT_EQ(::mkfifo(f.Program("ERUShell").c_str(), 0644), 0); }, .status = 1, .err = UNEXPECTED
     "detail: error: 57 Device I/O error\ndetail: file: %P/ERUShell.mdb\ndetail: system: not a "
     "regular file: a FIFO\n"},
    {.name = "DeviceAsShellSource", .args = {"ERU,STRUCTURE"}, .arrange = [](Fx& f) {
     NoEruShell(f); fs::create_symlink("/dev/zero", f.Program("ERUShell")); }, .status = 1,
     .err = UNEXPECTED "detail: error: 57 Device I/O error\ndetail: file: %P/ERUShell.mdb\ndetail: "
     "system: not a regular file: a device\n"},
    // Planted links and FIFOs are neither written through nor waited on; such a log is skipped.
    {.name = "PlantedSymbolicLinks", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     WriteFile(f.outside, "not the program's"); fs::create_symlink(f.outside, f.Db(
     ".InstallShell.mdb.tmp")); fs::remove(f.marker); fs::create_symlink(f.nowhere, f.marker);
     ASSERT_EQ(::mkfifo(f.log.c_str(), 0644), 0); }, .state = kQueried, .logged = false},
    {.name = "PlantedHardLink", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     WriteFile(f.outside, "not the program's"); fs::create_hard_link(f.outside, f.Db(
     ".InstallShell.mdb.tmp")); fs::create_symlink(f.outside, f.log); }, .state = kQueried,
     .logged = false},
    // A history that cannot be written fails the run before any change.
    {.name = "ReadOnlyHistory", .args = {"INSTALL,QUERY,STRUCTURE,VERSION"}, .arrange = [](Fx& f)
     { platform::history::HistoryWriter(f.history, {}); ChmodFile(f.history, 0444); },
     .status = 1, .err = UNEXPECTED "detail: error: 8 attempt to write a readonly database\n"
     "detail: SQL: PRAGMA history.user_version = 1\ndetail: read-only: %L/ChangeHistory.db (mode "
     "0444)\n" HISTORY, .history = "-"},
    {.name = "FolderAtTheHistorysName", .args = {"INSTALL,QUERY,STRUCTURE,VERSION"},
     .arrange = [](Fx& f) { MakeFolders(f.history); }, .status = 1, .err = UNEXPECTED "detail: "
     "error: 57 Device I/O error\ndetail: file: %L/ChangeHistory.db\ndetail: system: not a "
     "regular file: a folder\ndetail: database: %L/ChangeHistory.db\n" HISTORY, .history = "-"},
    {.name = "MissingLogFolderOnlyMeansNoLog", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     fs::remove(f.box.logs()); }, .state = kQueried, .logged = false, .history = "-"},
    // The log is only appended to and never made writable; the runs go on.
    {.name = "ReadOnlyLog", .args = {"INSTALL,VERSION"}, .arrange = [](Fx& f) { WriteFile(f.log,
     kEarlierLog); ChmodFile(f.log, 0444); }, .state = kVersioned, .logged = false},
    {.name = "ExampleInstall", .args = {"INSTALL,QUERY,STRUCTURE,VERSION"}, .arrange = [](Fx& f) {
     f.UseExamples(); }, .state = "2.1.0 / 39 fields / GLU,CHOL,ALT / qryActiveTests "
     "qryTestVolumes qryUpperLotNumbers(text only) qryDeleteExpiredKits(text only) / compacted "
     "marker", .plan = true, .probe = "SELECT (SELECT count(*) FROM TestVolumes WHERE "
     "TV_DeadVolume IS NOT 25) || ' ' || (SELECT count(*) FROM qryActiveTests)=0 3"},
    {.name = "ExampleEru", .args = {"ERU,QUERY,STRUCTURE,VERSION"}, .arrange = [](Fx& f) {
     f.UseExamples(); EXPECT_EQ(f.box.Run("Reshaper", {
     "INSTALL,QUERY,STRUCTURE,VERSION"}).exit_status, 0); }, .state = "2.0.0 / 35 fields / "
     "GLU,CHOL,ALT / qryTestVolumes qryUpperLotNumbers(text only) qryDeleteExpiredKits(text only) "
     "qryActiveTests / compacted marker", .plan = true, .probe = "SELECT count(*) FROM "
     "pragma_table_info('TestVolumes')=10"},
    // Names crafted to break out of the upgrade's SQL: made as they are, nothing else changes.
    {.name = "HostileFieldAndQueryNames", .args = {"INSTALL,QUERY,STRUCTURE"}, .arrange = [](Fx& f)
     { std::vector<SavedQuery> queries; std::string sql = "INSERT INTO DefaultData VALUES ('UPDATE "
     "Tests SET Tests_Name = Tests_Name'); INSERT INTO StructureInfo (\"Table\", Name, DataType) "
     "VALUES "; for (const char* name : {"x\"; DROP TABLE Tests; --", "]; DELETE FROM Tests; [",
     "y'); DELETE FROM Tests; --", "z\" TEXT, \"w", "SELECT"}) { sql += std::string(queries.empty()
     ? "" : ", ") + "('Tests', '" + std::regex_replace(name, std::regex("'"), "''") + "', 'TEXT')";
     queries.push_back({name, "SELECT Tests_ID FROM Tests"}); } f.Shell("InstallShell", sql + ";",
     queries); }, .state = "1.0.0 / ID Name x\"; DROP TABLE Tests; -- ]; DELETE FROM Tests; [ y'); "
     "DELETE FROM Tests; -- z\" TEXT, \"w SELECT / GLU,CHOL / x\"; DROP TABLE Tests; -- ]; DELETE "
     "FROM Tests; [ y'); DELETE FROM Tests; -- z\" TEXT, \"w SELECT / compacted marker",
     .plan = true, .probe = "SELECT group_concat(name) || ' / ' || (SELECT count(*) FROM \"]; "
     "DELETE FROM Tests; [\") FROM sqlite_schema WHERE type = "
     "'table'=Tests,SoftwareVersion,SavedQueries,SysFieldProperties / 2"},
    // Rules crafted to break out of the triggers that enforce them stop the upgrade at that row.
    {.name = "HostileValidationRuleStatement", .args = {"INSTALL,STRUCTURE"}, .shell = HOSTILE_RULE
     "'1) ; DROP TABLE Tests; --');", .status = 1, .err = RULE "1) ; DROP TABLE Tests; --\ndetail: "
     "engine: unexpected character\n"},
    {.name = "DeeplyNestedValidationRule", .args = {"INSTALL,STRUCTURE"}, .shell = HOSTILE_RULE
     "printf('%.20000c', '(') || '>0' || printf('%.20000c', ')'));", .status = 1, .err = RULE
     "%N\ndetail: engine: rule nested too deeply\n"},
    // Faults in the program's own actions leave the target byte for byte; here at the lock file.
    {.name = "ReadOnlyDatabaseFolder", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     f.mount.emplace(ScopedMount::ReadOnly(f.box.databases())); }, .status = 1, .err = UNEXPECTED
     "detail: error: 70 Permission denied\ndetail: file: %D/Corvista1k.ldb\ndetail: system: open "
     "lock file: Read-only file system\n"},
    // A journal is never deleted (the next open rolls it back).
    {.name = "HotJournalOfReadOnlyTarget", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     LeaveHotJournal(f.box.database()); f.mount.emplace(ScopedMount::ReadOnly(f.box.database()));
     }, .status = 1, .err = "detail: stale lock file removed: %D/Corvista1k.ldb\n" UNEXPECTED
     "detail: error: 776 attempt to write a readonly database\ndetail: SQL: PRAGMA "
     "journal_mode=DELETE\ndetail: database: %T\n", .state = "1.0.0 / ID Name / GLU,CHOL / / "
     "compacted same Corvista1k.mdb-journal"},
    {.name = "FullDiskAtShellCopy", .args = {"INSTALL,STRUCTURE"}, .arrange = [](Fx& f) {
     f.mount.emplace( ScopedMount::SmallDisk(f.box.databases(), fs::file_size(f.Program(
     "InstallShell")) / 2)); }, .status = 1, .err = UNEXPECTED "detail: error: 61 Disk "
     "full\ndetail: file: %D/InstallShell.mdb\ndetail: system: write: No space left on device\n"},
    {.name = "InstallShellOfRandomBytes", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     WriteFile(f.Program("InstallShell"), std::string(8192, '\x5a') + "\x01\xff"); }, .status = 1,
     .err = UNEXPECTED NO_DATABASE "detail: database: %D/InstallShell.mdb\ndetail: shell source: "
     "%P/InstallShell.mdb\n"},
    {.name = "TargetOfText", .args = {"INSTALL,QUERY"}, .arrange = [](Fx& f) {
     WriteFile(f.box.database(), "Tests;GLU;CHOL\r\n"); }, .status = 1,
     .err = UNEXPECTED NO_DATABASE "detail: database: %T\n", .state = "unreadable: same"},
    // Half the target's size to spare: the doubling statement is undone, the steps before stay,
    // the target stays in place, whole, uncompacted, and the engine's scratch file is gone.
    {.name = "FullDiskAtDefaultData", .args = {"INSTALL,STRUCTURE,VERSION"},
     .shell = kDoubleFiller, .arrange = FillSmallDisk, .status = 1, .err = DEFAULT_DATA "detail: "
     "statement: 4: \"INSERT INTO Filler SELECT Note FROM Filler\"\ndetail: engine: 13 database or "
     "disk is full\ndetail: SQL: COMMIT\n", .state = kDataFailed, .probe = "SELECT "
     "count(*) FROM Filler=3000"},
    {.name = "FullDiskAtCompaction", .args = {"INSTALL,VERSION"}, .shell = kDoubleFiller,
     .arrange = FillSmallDisk, .status = 1, .err = COMPACTION "detail: engine: 13 database or disk "
     "is full\ndetail: SQL: VACUUM\ndetail: database: %T\n", .state = "2.0.0 / ID Name / GLU,CHOL "
     "/ /", .probe = "SELECT count(*) FROM Filler=3000"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Runs, ReshaperRun, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The type words as compared (trimmed blanks, any letter case), and the pair whose fields the
// engine declares alike; the others are pinned by the fields that EveryTypeWord adds. "Error"
// for anything else.
TEST(MapFieldType, MapsTrimmedWordsOnly) {
  const std::pair<Value, int> cases[] = {
      {" double ", 7},   {"Long", 4}, {"NUMERIC", 19},
      {"DECIMAL", 20},   {"MEMO", 0}, {"TEXT2", 0},
      {"\tTEXT", 0},     {"", 0},     {Value(std::int32_t{10}), 0},
      {Value::Null(), 0}};
  for (const auto& [word, code] : cases) {
    const Value expected = code ? Value(static_cast<std::int16_t>(code)) : Value("Error");
    EXPECT_TRUE(MapFieldType(word).SameAs(expected)) << word.Describe();
  }
}

constexpr const char* kSame = "1.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL";
#define FIELDS "INSERT INTO StructureInfo (\"Table\", Name, DataType, Size) VALUES "
#define VERSION "INSERT INTO VersionInfo VALUES "
#define VERSION_FAILS "step: version update\nversion: *"
#define STRUCTURE_FAILS "step: structure update\nrow: 1: "

// clang-format off
const struct {
  const char *name, *step;  // INSTALL or ERU (the structure update), VERSION, DATA
  const char *shell_sql, *target_sql;
  const char* details;  // the failure's, "what: value" a line, as fnmatch (nullptr: it succeeds)
  const char* state;  // "versions / Tests' fields, types, other properties / rows [fields set]"
} kStepCases[] = {
    {"NoStructureRowsAlthoughNothingNeededDoing", "INSTALL", "", "",
     "step: structure update\ncause: StructureInfo has no rows\n", kSame},
    {"FieldPresentUnderItsNameIsLeftAsItIs", "INSTALL", "INSERT INTO StructureInfo (\"Table\", "
     "Name, DataType, Size, Required) VALUES ('Tests', 'Tests_Name', 'LONG', '4', -1);", "",
     nullptr, kSame},
    {"EveryTypeWord", "INSTALL", FIELDS "('Tests', 'Tests_A', 'TEXT', NULL),"
     "('Tests', 'Tests_B', 'DOUBLE', NULL), ('Tests', 'Tests_C', 'binary', '8'),"
     "('Tests', 'Tests_D', 'BOOLEAN', NULL), ('Tests', 'Tests_E', 'BYTE', NULL),"
     "('Tests', 'Tests_F', 'INTEGER', NULL), ('Tests', 'Tests_G', 'FLOAT', NULL),"
     "('Tests', 'Tests_H', 'CHAR', NULL), ('Tests', 'Tests_I', 'CURRENCY', NULL),"
     "('Tests', 'Tests_J', 'DATE', NULL), ('Tests', 'Tests_K', 'DECIMAL', NULL),"
     "('Tests', 'Tests_L', ' Long', NULL), ('Tests', 'Tests_M', 'NUMERIC', NULL),"
     "('Tests', 'Tests_N', 'SINGLE', NULL), ('Tests', 'Tests_O', 'TIME ', NULL);", "",
     nullptr, "1.0.0 / ID SHORT, Name TEXT(10), A TEXT(255), B DOUBLE, C BINARY(8), D YESNO, "
     "E BYTE, F SHORT, G FLOAT, H CHAR(8), I CURRENCY, J DATETIME, K DECIMAL(18,0), L LONG, "
     "M DECIMAL(18,0), N SINGLE, O TIME / 1=GLU,2=CHOL"},
    {"RowWithoutSizeTakesTheSizeOfTheLastRowThatHadOne", "INSTALL", FIELDS
     "('Tests', 'Tests_First', 'TEXT', NULL), ('Tests', 'Tests_Sized', 'TEXT', '20'),"
     "('Tests', 'Tests_Carried', 'TEXT', NULL), ('Tests', 'Tests_Number', 'LONG', NULL),"
     "('Tests', 'Tests_Fixed', 'CHAR', NULL), ('Tests', 'Tests_Resized', 'CHAR', '3'),"
     "('Tests', 'Tests_Last', 'TEXT', NULL);", "", nullptr,
     "1.0.0 / ID SHORT, Name TEXT(10), First TEXT(255), Sized TEXT(20), Carried TEXT(20), "
     "Number LONG, Fixed CHAR(20), Resized CHAR(3), Last TEXT(3) / 1=GLU,2=CHOL"},
    // Exact names only: version_number stays.
    {"EruDeletesListedFieldsWithTheirDataOnly", "ERU", FIELDS "('Tests', 'Tests_Name', NULL, "
     "NULL), ('Tests', 'Tests_Absent', 'MEMO', NULL), ('SoftwareVersion', 'version_number', "
     "'TEXT', NULL);", "", nullptr, "1.0.0 / ID SHORT / 2"},
    // The creation is attempted; the engine's names ignore case, so it fails.
    {"FieldPresentInOtherLetterCase", "INSTALL", FIELDS "('Tests', 'TESTS_NAME', 'TEXT', NULL);",
     "", STRUCTURE_FAILS "table \"Tests\", name \"TESTS_NAME\", type \"TEXT\"\nengine: 3007 *",
     kSame},
    {"TruthValueThatDoesNotConvert", "INSTALL", "INSERT INTO StructureInfo (\"Table\", Name, "
     "DataType, Required) VALUES ('Tests', 'Tests_A', 'TEXT', 'maybe');", "",
     STRUCTURE_FAILS "*\nengine: 13 Type mismatch*", kSame},
    {"MissingTableInstall", "INSTALL", FIELDS "('Nowhere', 'X', 'TEXT', NULL);", "",
     STRUCTURE_FAILS "table \"Nowhere\", name \"X\", type \"TEXT\"\nengine: 3002 *", kSame},
    {"VersionOfTheFirstTargetRowOnly", "VERSION", VERSION "('SoftwareVersion', 'Version_Number', "
     "'2.0.0');", "INSERT INTO SoftwareVersion (Version_Number) VALUES ('1.0.1');", nullptr,
     "2.0.0,1.0.1 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionOfTheFirstVersionInfoRowOnly", "VERSION", VERSION "('SoftwareVersion', "
     "'Version_Number', '2.0.0'), ('Tests', 'Tests_Name', 'XXX');", "", nullptr,
     "2.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionNamesResolveAsSqlResolvesThem", "VERSION", VERSION "(' softwareversion', "
     "'VERSION_NUMBER ', '2.0.0');", "", nullptr, "2.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionOfAnEmptyTargetTable", "VERSION", VERSION "('SoftwareVersion', 'Version_Number', "
     "'2.0.0');", "DELETE FROM SoftwareVersion;", VERSION_FAILS "\ncause: the table "
     "SoftwareVersion has no rows\n", "NULL / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionTheFieldRefuses", "VERSION", VERSION "('SoftwareVersion', 'Version_Number', "
     "'2.0.0-a-version-text-longer-than-twenty');", "", VERSION_FAILS "\nengine: 3001 *", kSame},
    // The names come from the shell's data: nothing in them may act as SQL.
    {"HostileVersionTableStatement", "VERSION", VERSION "('SoftwareVersion; DROP TABLE Tests', "
     "'Version_Number', '2.0.0');", "", VERSION_FAILS, kSame},
    {"HostileVersionFieldComment", "VERSION", VERSION "('SoftwareVersion', 'Version_Number FROM "
     "Tests --', '2.0.0');", "", VERSION_FAILS, kSame},
    {"NoDefaultDataRowAlthoughNothingNeededDoing", "DATA", "", "",
     "step: default data\ncause: DefaultData has no rows\n", kSame},
    // Every property of the row is given to the field; all null: the engine's defaults.
    {"InstallAddsFieldsWithTheirProperties", "install", "INSERT INTO StructureInfo VALUES ('Tests', "
     "'Tests_Note', 'TEXT', '40', 'none', -1, 0, '<> ''x''', 'no x please'), ('Tests', "
     "'Tests_Reflex', ' boolean ', NULL, NULL, NULL, NULL, NULL, NULL);", "", nullptr, "1.0.0 / ID "
     "SHORT, Name TEXT(10), Note TEXT(40) \"none\" required nonzero rule no x please, Reflex YESNO "
     "/ 1=GLU,2=CHOL"},
};
// clang-format on

// A target and a shell (which holds the target's tables too, as a release's shell does), both
// open as the driver holds them. A failing step keeps what it did before the row or statement at
// fault; existing rows hold null in the fields a step adds.
TEST(Steps, EndWithTheirDetailsAndTarget) {
  for (const auto& c : kStepCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    MakeDatabase(dir.Sub("target.mdb"), std::string(kTargetTables) + c.target_sql);
    MakeShell(dir.Sub("shell.mdb"), c.shell_sql);
    Database target = Database::Open(dir.Sub("target.mdb")),
             shell = Database::Open(dir.Sub("shell.mdb"));
    StepFailure failure;
    const std::string step = c.step;
    const bool done = step == "VERSION" ? UpdateVersion(target, shell, &failure)
                      : step == "DATA"  ? UpdateDefaultData(target, shell, &failure)
                                        : UpdateStructure(target, shell, step, &failure);
    EXPECT_EQ(done, c.details == nullptr);
    std::string details, set,
        state = DumpRows(target, "SELECT group_concat(Version_Number) FROM SoftwareVersion");
    for (const auto& [what, value] : failure.details) details += what + ": " + value + "\n";
    EXPECT_EQ(::fnmatch(c.details ? c.details : "", details.c_str(), 0), 0) << details;
    state.back() = ' ';
    bool names = false;
    for (const auto& field : platform::engine::TableFields(target, "Tests")) {
      const auto& p = field.properties;
      state += (names || field.name != "Tests_ID" ? ", " : "/ ") + field.name.substr(6) + " " +
               field.declared_type +
               (p.default_value.Describe() == "Empty" ? "" : " " + p.default_value.Describe()) +
               (p.required ? " required" : "") + (p.allow_zero_length ? "" : " nonzero") +
               (p.validation_rule.empty() ? "" : " rule") +
               (p.validation_text.empty() ? "" : " " + p.validation_text);
      if (names &&
          QueryCount(target, "SELECT count(*) FROM Tests WHERE \"" + field.name + "\" IS NOT NULL"))
        set += " " + field.name + " set";
      names = names || field.name == "Tests_Name";
    }
    state += " / " + QueryValue(target, names ? "SELECT group_concat(Tests_ID || '=' || "
                                                "Tests_Name) FROM (SELECT * FROM Tests ORDER BY 1)"
                                              : "SELECT count(*) FROM Tests")
                         .ToText();
    EXPECT_EQ(state + set, c.state);
  }
}

// A sqlite3 client reads the target in a transaction that it keeps open past
// the busy timeout: the compaction fails and the target stays as it was.
TEST(CompactTarget, AReaderHoldingTheTargetFailsTheStep) {
  Sandbox box;
  ::setenv("SYSTEM_DRIVE", box.drive().c_str(), 1);
  const std::string target = box.database(), ready = box.Sub("ready");
  MakeDatabase(target, std::string(kTargetTables) + kSpare);
  const std::string before = ReadFile(target);
  FILE* reader = ::popen(("/usr/bin/sqlite3 -batch '" + target + "' > /dev/null").c_str(), "w");
  ASSERT_NE(reader, nullptr);
  std::fprintf(reader, "BEGIN;\n.output %s\nSELECT count(*) FROM Tests;\n.output stdout\n",
               ready.c_str());
  std::fflush(reader);
  while (ReadFile(ready).empty()) ::usleep(1000);
  StepFailure failure;
  const bool compacted = CompactTarget(&failure);
  ::pclose(reader);  // its transaction ends with its input
  EXPECT_FALSE(compacted);
  EXPECT_EQ(failure.details.at(3).second, "5 database is locked");
  EXPECT_TRUE(ReadFile(target) == before) << "the target changed";
  EXPECT_FALSE(Exists(target + "-journal"));
  EXPECT_FALSE(Exists(box.databases() + "/Temp.mdb"));
}

}  // namespace
}  // namespace reshaper_test
