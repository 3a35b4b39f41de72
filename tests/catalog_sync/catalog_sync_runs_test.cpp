// CatalogSync as the real program, one row per run in a sandbox; a planned row is first planned by
// CatalogPackage, and the plan held against the run: the same failure, the same rows changed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "catalog_package/catalog_json.h"
#include "catalog_sync/records/catalog_bag.h"
#include "catalog_sync/records/file_manager.h"
#include "platform/history/digest.h"
#include "platform/history/reader.h"
#include "platform/history/writer.h"
#include "tests/platform/workbook_biff_writer.h"
#include "tests/support/catalog.h"
#include "tests/support/databases.h"
#include "tests/support/history.h"
#include "tests/support/sandbox.h"
#include "tests/support/scoped_mount.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using namespace testing_support;
using nlohmann::json;
using platform::Value;
using platform::engine::Database;

const auto Backup = [](const Sandbox& sb) { return sb.databases() + "/Temp_Corvista1k.mdb"; };
const auto Package = [](const Sandbox& sb) { return sb.InProgram("CatalogSync.dat"); };
const auto Workbook = [](const Sandbox& sb) { return sb.InProgram("CatalogSync.xls"); };
const auto Bytes = [](const std::string& path) { return Exists(path) ? ReadFile(path) : "(none)"; };
const auto Fixture = [](auto n) { return SourceDir() + "/tests/fixtures/import/" + n + ".xls"; };
const auto HistoryFile = [](const Sandbox& sb) { return sb.logs() + "/ChangeHistory.db"; };
std::string Text(const Sandbox& sb, const std::string& sql) {
  return QueryValue(sb.database(), sql).ToText();
}
void Count(const Sandbox& sb, const std::string& from, std::int64_t n) {
  EXPECT_EQ(QueryCount(sb.database(), "SELECT COUNT(*) FROM " + from), n) << from;
}
Catalog ReadPackage(const Sandbox& sb) {
  Catalog c;
  platform::Error failure(0, "");
  EXPECT_TRUE(catalog_sync::FileManager(Package(sb)).ReadProperties(c.assays, c.volumes, &failure))
      << failure.description();
  return c;
}

// One assay of a row's package.
struct Spec {
  std::int16_t test;
  std::string name, mode;
  std::array<std::int32_t, 3> vols = {100, 0, 0};
  std::function<void(catalog_sync::Assay&)> adjust = {};
};
void WriteAssays(const Sandbox& sb, const std::vector<Spec>& specs, std::size_t count) {
  CatalogBuilder b;
  for (std::size_t i = 0; i < count; ++i) {
    catalog_sync::Assay& a = b.Add(specs[i].test, specs[i].name, specs[i].mode, specs[i].vols);
    if (specs[i].adjust) specs[i].adjust(a);
  }
  b.WritePackage(Package(sb));
}

enum class Db { kUnchanged, kChanged, kMissing, kJournalKept };
// The Logs folder, where a run keeps its change history, and what it holds after the run.
enum class History {
  kNoLogs,  // none: the run makes none and writes no history
  kNone,    // made before the run; still empty (the run failed before it found the database)
  kSealed,  // made before the run; the history holds the run's record, sealed
  kKept,    // as the row arranged it, byte for byte (a history that cannot be written)
};
using Check = std::function<void(const Sandbox&)>;
struct Row {
  const char* name;
  std::vector<std::string> args = {"INSTALL"};
  std::vector<Spec> package = {{40, "NEW", "ADD"}};  // always written first
  std::string workbook = "";                         // copied when given
  Check prepare = {};
  std::function<ScopedMount(const Sandbox&)> mount = {};  // after `prepare`; skipped if refused
  int status = 1;
  // Exactly, with $DBS, $DB, $PKG, $WB, $HIST, $ROOT, and "<any>" for the rest of a line.
  std::string err = "";
  Db db = Db::kUnchanged;  // of a failed run; a successful one changes the database
  int package_assays = 0;  // the package rewritten with that many, else kept byte for byte
  bool plan = false;       // planned first, and the plan held against the run
  std::vector<std::string> outcomes = {};  // planned, "outcome (reason)"
  int failing = 0;                         // the planned failure's position
  Check check = {};
  std::function<RunResult(const Sandbox&, const std::vector<std::string>&)> run = {};
  bool marker_kept = false, large = false;  // large: may hold 8 times the package beside 64 MB
  History history = History::kNoLogs;       // any other: the Logs folder made before `prepare`
  friend void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }
};

std::string Expand(std::string s, const Sandbox& sb) {
  const std::string tokens[] = {"$DBS", "$DB", "$PKG", "$WB", "$HIST", "$ROOT"};
  const std::string paths[] = {sb.databases(), sb.database(),   Package(sb),
                               Workbook(sb),   HistoryFile(sb), sb.root()};
  for (std::size_t i = 0; i < std::size(tokens); ++i) {
    for (auto at = s.find(tokens[i]); at != std::string::npos; at = s.find(tokens[i], at)) {
      s.replace(at, tokens[i].size(), paths[i]);
    }
  }
  return s;
}

// `expected` with each "<any>", which ends its line, standing for any text within that line.
bool Matches(const std::string& actual, const std::string& expected) {
  std::size_t at = 0, from = 0;
  for (std::size_t any; (any = expected.find("<any>", from)) != std::string::npos; from = any + 5) {
    const std::string part = expected.substr(from, any - from);
    if (actual.compare(at, part.size(), part) != 0) return false;
    at = actual.find('\n', at + part.size());
    if (at == std::string::npos) return false;
  }
  return actual.substr(at) == expected.substr(from);
}

// The boxes, and the detail lines that several share.
const std::string kNotFound = "Catalog Sync: The following file was not found: ";
const std::string kUnreadable =
    "Catalog Sync: The assay properties could not be read from the CatalogSync.dat file.\n"
    "detail: cause: ";
const std::string kOpenFailed =
    "Open Connection: The following error occured while opening the database\nError Number: ";
const std::string kReadOnlyLock = kOpenFailed +
                                  "70 Permission denied\ndetail: file: $DBS/Corvista1k.ldb\n" +
                                  "detail: system: open lock file: Read-only file system\n";
const std::string kAtJournalMode =
    "detail: SQL: PRAGMA journal_mode=DELETE\ndetail: database: $DB\n";
const std::string kAtFirstAssay = "detail: assay: position 1, test 40, mode ADD\n";
const std::string kCopy = "detail: source: $DB\ndetail: destination: $DBS/Temp_Corvista1k.mdb\n";
const std::string kRolledBack = "detail: database: rolled back to its state before the run\n";
const std::string kHistory = "detail: history: $HIST\n";
std::string Unexpected(const std::string& title, const std::string& error) {
  return title +
         ": An unexpected error occurred while running the Catalog Sync.\nError Number: " + error +
         "\n";
}
const std::string kMalformed =
    Unexpected("Catalog Sync", "11 database disk image is malformed") + "detail: database: $DB\n";
// A value that the field refuses in assay 2: the walk's box, and how it was undone.
std::string Refused(int test, const std::string& mode, const std::string& column,
                    const std::string& type, const std::string& value) {
  const std::string n = std::to_string(test);
  return Unexpected("UpdateAssay " + n, "3001 The value does not fit the field") +
         "detail: assay: position 2, test " + n + ", mode " + mode +
         "\ndetail: table: Tests\ndetail: column: " + column + "\ndetail: declared type: " + type +
         "\ndetail: value: " + value + "\n" + kRolledBack;
}
std::string TooLong(const std::string& name) {  // test 41
  return Refused(41, "ADD", "Tests_Name", "TEXT(10)", "\"" + name + "\"");
}
using Rows = std::map<std::pair<std::string, std::int64_t>, json>;  // (table, rowid)

// Every row of every table and of the schema, as JSON.
Rows ReadRows(const std::string& path) {
  Database db = Database::Open(path);
  Rows rows;
  const char* tables =
      "SELECT 'sqlite_schema' UNION SELECT name FROM sqlite_schema WHERE type = 'table'";
  for (const auto& table : db.Query(tables).rows) {
    const auto result = db.Query("SELECT rowid, * FROM " + table[0].ToText());
    for (const auto& row : result.rows) {
      json& cells = rows[{table[0].ToText(), row[0].ToLong()}] = json::object();
      for (std::size_t i = 1; i < row.size(); ++i) {
        using enum platform::ValueKind;
        const Value& v = row[i];
        cells[result.columns[i]] = v.kind() == kNull     ? json(nullptr)
                                   : v.kind() == kText   ? json(v.text())
                                   : v.kind() == kDouble ? json(v.ToDouble())
                                                         : json(v.ToLong());
      }
    }
  }
  return rows;
}

// The rows as the plan's changes, applied in order, leave them.
Rows ApplyPlan(Rows rows, const json& plan) {
  for (const json& assay : plan["assays"]) {
    for (const json& change : assay["changes"]) {
      const std::pair<std::string, std::int64_t> key{change["table"], change["rowid"]};
      if (change["kind"] == "deleted") {
        EXPECT_EQ(rows.erase(key), 1u) << "deleted a row that is not there: " << change;
        continue;
      }
      EXPECT_EQ(rows.count(key), change["kind"] == "updated" ? 1u : 0u) << change;
      for (const auto& [column, v] : change["columns"].items()) rows[key][column] = v["new"];
    }
  }
  return rows;
}

struct Planned {
  json plan;
  RunResult text;
  Rows predicted;
};

// Plans the run (JSON and text), and shows that the plan left the database, the package and what
// both folders hold as they were.
Planned PlanFirst(const Sandbox& sb, const Row& row) {
  const auto files = [&] {
    std::set<fs::path> names;
    for (const auto& folder : {sb.databases(), sb.program_folder()})
      for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path());
    return std::tuple(Bytes(sb.database()), Bytes(Package(sb)), names);
  };
  const auto before = files();
  const auto plan = [&](std::vector<std::string> args) {
    args.insert(args.end(), {row.args[0] == "QVR" ? Workbook(sb) : Package(sb), sb.database()});
    const RunResult r = sb.Run(BinaryFromEnv("CATALOGPACKAGE_BIN"), args);
    EXPECT_EQ(std::pair(r.err, r.exit_status), std::pair(""s, row.status));
    return r;
  };
  Planned p{json::parse(plan({"plan", "--json"}).out), plan({"plan"}), {}};
  EXPECT_TRUE(files() == before) << "the plan changed the database or package, or left a file";
  EXPECT_TRUE(p.plan["run"].is_null() || p.plan["run"] == row.args[0]) << p.plan["run"];
  std::vector<std::string> outcomes;
  for (const json& a : p.plan["assays"]) {
    outcomes.push_back(a["outcome"].get<std::string>() +
                       (a["reason"].is_null() ? "" : " (" + a["reason"].get<std::string>() + ")"));
  }
  EXPECT_EQ(outcomes, row.outcomes);
  if (Exists(sb.database())) p.predicted = ApplyPlan(ReadRows(sb.database()), p.plan);
  return p;
}

void HoldPlan(const Sandbox& sb, const Row& row, const Planned& p, const RunResult& run) {
  EXPECT_EQ(p.plan["succeeds"], run.exit_status == 0);
  EXPECT_EQ(p.plan["failure"].is_null(), run.exit_status == 0);
  if (run.exit_status != 0) {
    // The plan says exactly what the run said; a failure before the walk changes nothing.
    EXPECT_EQ(p.plan["failure"]["text"], run.err);
    EXPECT_EQ(p.plan["failure"]["position"], row.failing ? json(row.failing) : json(nullptr));
    if (!row.failing) {
      const json& plan = p.plan;  // the source's line when the source could be read
      const std::string source = plan["source_sha256"].is_null()
                                     ? ""
                                     : "source: " + plan["source"].get<std::string>() + ", " +
                                           plan["source_size"].dump() + " bytes, SHA-256 " +
                                           plan["source_sha256"].get<std::string>() + "\n";
      EXPECT_EQ(p.text.out, source + run.err +
                                "summary: 0 added, 0 updated, 0 deleted, 0 skipped; the run would "
                                "fail and leave the database as it was\n");
      return;
    }
    EXPECT_NE(p.text.out.find(run.err + "summary: "), std::string::npos) << p.text.out;
    // The plan's changes before the failure are what a run of those assays alone makes.
    if (row.failing > 1) {
      WriteAssays(sb, row.package, static_cast<std::size_t>(row.failing - 1));
      ASSERT_EQ(sb.Run("CatalogSync", {"INSTALL"}).exit_status, 0);
    }
  }
  EXPECT_EQ(ReadRows(sb.database()), p.predicted);
}
// `at` replaced by a FIFO or by a link to `to` (a dangling one to "nowhere.mdb").
enum class Plant { kLink, kDanglingLink, kHardLink, kFifo };
void Replace(const std::string& at, Plant plant, const std::string& to = "") {
  ::unlink(at.c_str());
  const char* p = at.c_str();
  ASSERT_EQ(plant == Plant::kFifo           ? ::mkfifo(p, 0666)
            : plant == Plant::kHardLink     ? ::link(to.c_str(), p)
            : plant == Plant::kDanglingLink ? ::symlink("nowhere.mdb", p)
                                            : ::symlink(to.c_str(), p),
            0)
      << at;
}

// `path` moved to `to`, and a link to it left in its place.
void LinkTo(const std::string& path, const std::string& to) {
  fs::rename(path, to);
  fs::create_symlink(to, path);
}

// five-sheets.xls: sheet 1 holds a text that is no number in every cell an assay sheet is read
// from; sheets 2 to 5 the example assays 12, 14, 21, 30 with the cells changed that are named here.
void CheckFiveSheets(const Sandbox& sb) {
  EXPECT_EQ(ReadFile(Workbook(sb)), ReadFile(Fixture("five-sheets")));
  const Catalog c = ReadPackage(sb);
  // clang-format off
  const std::tuple<std::int32_t, const char*, Value, const char*> values[] = {
      {1, "TestNumber", std::int16_t{12}, ""}, {1, "TestName", "GLU", ""},
      {1, "Mode", "ADD", "D2 \" add \""}, {1, "Formula", std::int16_t{2}, "H16 2.5"},
      {1, "CalibrationFreq", std::int32_t{-1}, "H11 TRUE"}, {1, "DefaultUnits", "True", "H8 TRUE"},
      {1, "Active", true, "H31 TRUE"}, {1, "DiluteControl", false, "H25 FALSE"},
      {2, "Formula", std::int16_t{4}, "H16 3.5"}, {2, "DiluteControl", true, "H25 \" yes \""},
      {2, "Active", false, "H31 \"false\""}, {3, "TestName", "123", "B1 123"},
      {3, "ConversionFactor", 1.5, "H10 \" 1.5 \""}, {3, "AssayLow", 5.0, "H12 =2+3"},
      {3, "NumOfCalibrators", std::uint8_t{3}, "H26 \"3\""},
      {3, "NumOfReplicates", std::uint8_t{255}, "H27 255"}, {3, "SampleVol", 2.5f, "E5 2.5"},
      {3, "SampleVolKey", std::int32_t{2}, "C5 1.5"}, {4, "TestNumber", std::int16_t{30}, ""},
      {4, "Mode", "MODIFY", ""}};
  // clang-format on
  for (const auto& [position, property, expected, cell] : values) {
    const Value got = catalog_sync::AssayPropertyNamed(property).get(c.assays.Item(position));
    EXPECT_TRUE(got.SameAs(expected))
        << position << " " << property << " (" << cell << "): " << got.Describe();
  }
  // GLU: texts and a huge number between WashFill (C18..C20) and LastWash (C24..C26), which would
  // fail any volume they were read into; ALB: every volume cell emptied.
  EXPECT_EQ(c.volumes.At(1, 0).WashFill(), 120);
  EXPECT_EQ(c.volumes.At(1, 0).LastWash(), 80);
  for (const auto& p : catalog_sync::TestVolumeProperties()) {
    for (std::int32_t part = 0; part < 3; ++part) {
      EXPECT_TRUE(p.derivation != catalog_sync::Derivation::kStored ||
                  p.get(c.volumes.At(2, part)).SameAs(Value(std::int32_t{0})))
          << p.name;
    }
  }
  EXPECT_EQ(c.volumes.At(4, 1).ReagentVol(), 50);
  Count(sb, "Tests WHERE Tests_ID = 12 AND Tests_CalibrationFreq = -1", 1);
  Count(sb, "Tests WHERE Tests_ID = 21 AND Tests_Name = '123'", 1);
}

const char* kRangeOf14 = "SELECT TR_Low || ' ' || TR_High FROM TestRanges WHERE TR_TestsID = 14";

// The example workbook brings exactly examples/catalog.json; its package, installed, leaves what
// the workbook run left but for the site's own normal range, whose limits only a QVR run takes.
void CheckExampleWorkbook(const Sandbox& sb) {
  Catalog expected;
  catalog_package::CatalogFromJson(json::parse(ReadFile(SourceDir() + "/examples/catalog.json")),
                                   expected.assays, expected.volumes);
  ExpectSameCatalog(expected, ReadPackage(sb), /*with_derived=*/false);
  EXPECT_EQ(Text(sb, kRangeOf14), "3.5 5.2");
  const std::string after_qvr = DumpDatabase(sb.database());
  CopyFile(sb.Sub("start.mdb"), sb.database());
  ASSERT_EQ(sb.Run("CatalogSync", {"INSTALL"}).exit_status, 0);
  EXPECT_EQ(Text(sb, kRangeOf14), "3.4 5.4");
  Database::Open(sb.database())
      .Exec("UPDATE TestRanges SET TR_Low = 3.5, TR_High = 5.2 WHERE TR_TestsID = 14");
  EXPECT_EQ(DumpDatabase(sb.database()), after_qvr);
}

std::vector<Row> AllRows() {
  // clang-format off
  const auto refused = [](std::vector<std::string> args) -> Row {
    return {.name = "refused command line", .args = args, .status = 2, .err = "Catalog Sync: An "
            "incorrect command parameter was supplied. Program Aborted.\n"
            "detail: usage: CatalogSync QVR | INSTALL\n"}; };
  const auto install = [](std::vector<std::string> args) -> Row {
    return {.name = "install", .args = args, .status = 0,
            .check = [](auto& sb) { Count(sb, "Tests WHERE Tests_ID = 40", 1); }}; };
  // A workbook that the import refuses: planned, the plan fails with the same box.
  const auto workbook_fails = [](const char* fixture, const std::string& err) -> Row {
    return {.name = fixture, .args = {"QVR"}, .workbook = Fixture(fixture), .err = err,
            .plan = true}; };
  // The fixtures' failures at a cell of sheet 3, which holds test 14 (ALB).
  const auto alb = [=](const char* fixture, const char* error, const char* cell,
                       const std::string& value, const char* title = "ImportData14") {
    return workbook_fails(fixture, Unexpected(title, error) + "detail: sheet: position 3, \"ALB\"\n"
                                   "detail: cell: " + cell + "\ndetail: value: " + value + "\n"); };
  // Something planted at a fixed name of a run: the run neither writes through it nor waits on
  // it; the outside file keeps its bytes, the name ends as the run's own file (`made`) or gone.
  const auto planted = [](const char* name, const char* keyword, Plant plant,
                          std::string (*at)(const Sandbox&), bool made) -> Row {
    return {.name = name, .args = {keyword}, .workbook = Fixture("five-sheets"),
            .prepare = [=](auto& sb) {
              WriteFile(sb.Sub("outside.txt"), "not the program's");
              Replace(at(sb), plant, sb.Sub("outside.txt")); },
            .status = 0, .package_assays = keyword == "QVR"s ? 4 : 0, .check = [=](auto& sb) {
              EXPECT_EQ(ReadFile(sb.Sub("outside.txt")), "not the program's");
              EXPECT_FALSE(Exists(sb.databases() + "/nowhere.mdb"));
              EXPECT_EQ(fs::symlink_status(at(sb)).type(),
                        made ? fs::file_type::regular : fs::file_type::not_found); }}; };
  const auto special = [](const char* name, Plant plant, const char* to, std::string kind) -> Row {
    return {.name = name, .prepare = [=](auto& sb) { Replace(Package(sb), plant, to); },
            .err = kUnreadable + "Device I/O error (57)\ndetail: file: $PKG\n"
                   "detail: system: not a regular file: " + kind + "\n"}; };
  const std::vector<Spec> failing = {{40, "NEW", "ADD"}, {41, "FAR TOO LONG", "ADD"}};
  // Names built to break out of SQL, or holding NUL (Tests_Name TEXT(10), Tests_FullName TEXT(50)).
  static const std::pair<std::string, std::string> kHostileNames[] = {
      {"x\";DROP--", "x\"; DROP TABLE Tests; --"}, {"'];DEL--[", "]; DELETE FROM Tests; ["},
      {"a');--", "'); DELETE FROM TestVolumes; --"},
      {"\"[;]'--", "\" || (SELECT sql FROM sqlite_schema) || \""}, {"Tests", "SavedQueries"},
      {"' OR 1=1", "\"; UPDATE Tests SET Tests_Name = 'x'; --"},
      {"G\0U"s, "a\0'); DROP TABLE Tests; --"s}};
  std::vector<Spec> many, hostile;  // 200 assays; the names above
  for (std::int16_t n = 40; n < 240; ++n) many.push_back({n, "T" + std::to_string(n), "ADD"});
  for (const auto& [name, full] : kHostileNames) {
    hostile.push_back({std::int16_t(40 + hostile.size()), name, "ADD", {100, 0, 0},
                       [&full = full](auto& a) { a.SetTestFullName(full); }});
  }
  std::string long_text;  // 32,767 characters
  for (int i = 0; i < 32767; ++i) long_text += static_cast<char>('a' + i % 26);
  const std::string five = Fixture("five-sheets");
  const auto damage = [](Damage d) -> Check {
    return [d](auto& sb) {
      DamageDatabase(sb.database(), d);
      EXPECT_NE(QuickCheckOutput(sb.database()), "ok\n") << "not damaged"; }; };
  const Check journal = [](auto& sb) { LeaveHotJournal(sb.database()); };
  const auto read_only_folder = [](auto& sb) { return ScopedMount::ReadOnly(sb.databases()); };
  // A history as the writer makes it, with no run in it yet.
  const auto history = [](unsigned mode) -> Check {
    return [=](auto& sb) {
      platform::history::HistoryWriter(HistoryFile(sb), {});
      ChmodFile(HistoryFile(sb), mode); }; };
  const auto integrity_ok = [](auto& sb) { EXPECT_EQ(Text(sb, "PRAGMA integrity_check"), "ok"); };
  // The database folder on a disk of `halves` half database sizes.
  const auto small_disk = [](std::size_t halves) {
    return [=](const Sandbox& sb) {
      const std::size_t size = ReadFile(sb.database()).size() * halves / 2;
      return ScopedMount::SmallDisk(sb.databases(), size); }; };
  std::vector<Row> rows = {
      // The arguments, joined by a space, trimmed of spaces (only) and in any case, are the
      // keyword; anything else is refused before any file is touched, but a stale marker goes.
      refused({}), refused({"INSTALLS"}), refused({"INSTALL", "QVR"}), refused({"\tINSTALL"}),
      install({"  InStAlL "}), install({"", "Install", ""}),
      {.name = "workbook missing", .args = {" Qvr  "}, .err = kNotFound + "$WB\n"},
      {.name = "package missing",
       .prepare = [](auto& sb) { ::unlink(Package(sb).c_str()); }, .err = kNotFound + "$PKG\n",
       .plan = true},
      {.name = "package cut short",
       .prepare = [](auto& sb) { WriteFile(Package(sb), ReadFile(Package(sb)).substr(0, 300)); },
       .err = kUnreadable + "Invalid file format (321)\n"
              "detail: package format: truncated: 300 bytes of 1171\ndetail: file: $PKG\n",
       .plan = true},
      // Neither waited on nor read: a FIFO would block for ever, a device fill the memory.
      special("package a FIFO", Plant::kFifo, "", "a FIFO"),
      special("package a link to a device", Plant::kLink, "/dev/zero", "a device"),
      // A header and a 2 GiB hole: refused from its header and size, the hole never read.
      {.name = "package sparse",
       .prepare = [](auto& sb) { ASSERT_EQ(::truncate(Package(sb).c_str(), 2L << 30), 0); },
       .err = kUnreadable + "Invalid file format (321)\n"
              "detail: package format: 2147482477 trailing bytes after the block\n"
              "detail: file: $PKG\n"},
      {.name = "workbook a FIFO", .args = {"QVR"},
       .prepare = [](auto& sb) { Replace(Workbook(sb), Plant::kFifo); },
       .err = Unexpected("ImportData0", "57 Device I/O error") +
              "detail: file: $WB\ndetail: system: not a regular file: a FIFO\n"},
      // No history is begun before the database is found.
      {.name = "database missing",
       .prepare = [](auto& sb) { ::unlink(sb.database().c_str()); }, .err = kNotFound + "$DB\n",
       .db = Db::kMissing, .plan = true, .history = History::kNone},
      {.name = "text as database", .args = {"QVR"}, .workbook = five,
       .prepare = [](auto& sb) { WriteFile(sb.database(), "Tests;GLU;CHOL\n"); },
       .err = kOpenFailed + "26 file is not a database\n" + kAtJournalMode, .package_assays = 4},
      // Checked before the backup copy, which would carry the damage, and before the walk.
      {.name = "database missing its last row", .prepare = damage(Damage::kLoweredCellCount),
       .err = kMalformed + "detail: problem: Fragmentation of 132 bytes reported as 0 on page 2\n",
       .plan = true},
      {.name = "database cut short", .args = {"QVR"}, .workbook = five,
       .prepare = damage(Damage::kTruncated),
       .err = kMalformed + "detail: problem: Fragmentation of 6 bytes reported as 0 on page 10\n",
       .package_assays = 4, .plan = true},
      // The engine refuses the first write, as the kernel does for a user without write permission.
      {.name = "database read-only by its mode",
       .prepare = [](auto& sb) { ChmodFile(sb.database(), 0444); },
       .err = Unexpected("UpdateAssay 40", "8 attempt to write a readonly database") +
              kAtFirstAssay + "detail: SQL: INSERT INTO \"Tests\" <any>\n"
              "detail: read-only: $DB (mode 0444)\ndetail: table: Tests\n" + kRolledBack,
       .plan = true, .failing = 1},
      // A read-only folder refuses the lock file first, hot journal or not; only a read-only
      // database file in a writable folder lets the engine meet a journal it cannot roll back.
      {.name = "database folder read-only", .mount = read_only_folder, .err = kReadOnlyLock},
      {.name = "hot journal in a read-only folder", .prepare = journal,
       .mount = read_only_folder, .err = kReadOnlyLock, .db = Db::kJournalKept},
      {.name = "hot journal of a read-only database", .prepare = journal,
       .mount = [](auto& sb) { return ScopedMount::ReadOnly(sb.database()); },
       .err = kOpenFailed + "776 attempt to write a readonly database\n" + kAtJournalMode,
       .db = Db::kJournalKept},
      // A history that cannot be written fails the run before any change: the database as it was,
      // no backup copy, no marker, the history as it was.
      {.name = "history read-only", .prepare = history(0444),
       .err = Unexpected("Catalog Sync", "8 attempt to write a readonly database") +
              "detail: SQL: PRAGMA history.user_version = 1\ndetail: read-only: $HIST (mode 0444)\n" +
              kHistory,
       .history = History::kKept},
      {.name = "folder at the history's name",
       .prepare = [](auto& sb) { MakeFolders(HistoryFile(sb)); },
       .err = Unexpected("Catalog Sync", "57 Device I/O error") + "detail: file: $HIST\n" +
              "detail: system: not a regular file: a folder\ndetail: database: $HIST\n" + kHistory,
       .history = History::kKept},
      // The history's disk fills up with the walk's records (40 KiB: room to prove it writable, a
      // 16 KiB page in its journal, not for them): the walk is rolled back, records and all, and
      // its failure cannot be sealed either.
      {.name = "history on a full disk", .package = many, .prepare = history(0644),
       .mount = [](auto& sb) { return ScopedMount::SmallDisk(sb.logs(), 40960); },
       .err = "UpdateAssay <any>\nError Number: 13 database or disk is full\n"s +
              "detail: assay: <any>\ndetail: SQL: INSERT INTO history.Changes <any>\n" + kHistory +
              kRolledBack +
              "detail: history: $HIST: not sealed: 13 database or disk is full\n",
       .history = History::kKept},
      // Failed with the history attached to the open connection: sealed all the same.
      {.name = "folder at the backup path", .prepare = [](auto& sb) { MakeFolders(Backup(sb)); },
       .err = Unexpected("Catalog Sync", "14 unable to open database file") +
              "detail: database: $DBS/Temp_Corvista1k.mdb\n" + kCopy,
       .history = History::kSealed},
      {.name = "disk full at the backup copy", .mount = small_disk(1),
       .err = Unexpected("Catalog Sync", "13 database or disk is full") + kCopy},
      // Less room than the new package, four times the old one.
      {.name = "disk full at the package", .args = {"QVR"}, .workbook = five,
       .mount = [](auto& sb) {
         return ScopedMount::SmallDisk(sb.program_folder(), ReadFile(Package(sb)).size()); },
       .err = Unexpected("ImportData30", "61 Disk full") +
              "detail: file: $PKG\ndetail: system: write: No space left on device\n"},
      // The disk fills up while the assays are written: rolled back, the backup copy gone.
      {.name = "disk full during the changes", .package = many, .mount = small_disk(3),
       .err = Unexpected("UpdateAssay 40", "13 database or disk is full") + kAtFirstAssay +
              "detail: SQL: <any>\ndetail: table: <any>\n" + kRolledBack},
      // Room for the journal but not for the pages the commit appends; titled as the walk's own
      // failure, with the test number read last.
      {.name = "disk full at the commit", .package = many, .mount = small_disk(5),
       .err = Unexpected("UpdateAssay 239", "13 database or disk is full") +
              "detail: SQL: COMMIT\n" + kRolledBack},
      // Every outcome (an old backup copy goes); tests met again, seen as earlier assays left them.
      {.name = "every outcome", .package = {{40, "NEW", "ADD", {100, 50, 0}}, {2, "CHOL", "MODIFY"},
                   {1, "GLU", "ADD", {0, 0, 0}}, {41, "MISSING", "MODIFY", {10, 20, 30}},
                   {3, " alt ", "DELETE"}, {0, "SKIPPED", "ADD"}, {3, "ALT", "REMOVE"},
                   {3, "ALT", ""}, {77, "NONE", "DELETE"}},
       .prepare = [](auto& sb) { WriteFile(Backup(sb), "an old backup copy"); }, .status = 0,
       .plan = true,
       .outcomes = {"added", "updated", "updated", "added", "deleted", "skipped (test number 0)",
                    "skipped (unknown mode)", "skipped (unknown mode)", "deleted (no such test)"},
       .check = [](auto& sb) {
         Count(sb, "TestVolumes WHERE TV_TestsID = 40", 2);
         Count(sb, "Tests WHERE Tests_ID IN (0, 3)", 0);
         Count(sb, "Tests WHERE Tests_ID = 2 AND Tests_FullName = 'Full name of CHOL'", 1);
         Count(sb, "Kits WHERE Kits_TestsID = 3", 0); },
       .history = History::kSealed},
      {.name = "tests met again",
       .package = {{3, "OTHER", "DELETE"}, {3, "ALT", "DELETE"}, {3, "ALT", "ADD", {5, 0, 6}},
                   {2, "CHOL", "MODIFY", {7, 8, 9}}, {2, "CHOL2", "MODIFY", {0, 8, 0}}},
       .status = 0, .plan = true,
       .outcomes = {"deleted (name does not match, kits only)", "deleted", "added", "updated",
                    "updated"}},
      // Texts are bound as values, a NUL like any other character.
      {.name = "names built to break out of SQL", .package = hostile,
       .status = 0, .plan = true, .outcomes = std::vector<std::string>(hostile.size(), "added"),
       .check = [](auto& sb) {
         for (std::size_t i = 0; i < std::size(kHostileNames); ++i) {
           const std::string where = " FROM Tests WHERE Tests_ID = " + std::to_string(40 + i);
           EXPECT_EQ(Text(sb, "SELECT Tests_Name" + where), kHostileNames[i].first);
           EXPECT_EQ(Text(sb, "SELECT Tests_FullName" + where), kHostileNames[i].second);
         }}},
      // The walk stops at the first failing assay, whose box names it.
      {.name = "failing assay",
       .package = {{40, "NEW", "ADD"}, {41, "O'NEIL-PLUS", "ADD"}, {42, "ALSO-TOO-LONG", "ADD"}},
       .err = TooLong("O'NEIL-PLUS"), .plan = true, .outcomes = {"added"}, .failing = 2,
       .history = History::kSealed},
      {.name = "failing assay, no one reading its messages", .package = failing,
       .run = [](auto& sb, auto& args) {
         return sb.Run("CatalogSync", args, StandardError::kPipeWithoutReader); }},
      // SQLite would store a NaN as null in the DOUBLE column.
      {.name = "NaN refused",
       .package = {{40, "NEW", "ADD"}, {41, "NAN", "ADD", {100, 0, 0}, [](auto& a) {
                     a.SetAssayMax(std::numeric_limits<double>::quiet_NaN()); }}},
       .err = Refused(41, "ADD", "Tests_AssayMax", "DOUBLE", "NAN"), .plan = true,
       .outcomes = {"added"}, .failing = 2},
      // A killed program's hot journal is rolled back before the backup copy, else copied damaged.
      {.name = "hot journal", .package = failing, .prepare = journal,
       .err = TooLong("FAR TOO LONG"), .db = Db::kChanged, .check = [=](auto& sb) {
         integrity_ok(sb); Count(sb, "Filler WHERE Note NOT LIKE 'HALF%'", 3000);
         Count(sb, "Tests WHERE Tests_ID = 40", 0); }},
      // A second run, while the first holds the folder, fails before touching anything, the marker.
      {.name = "a second run", .err = Unexpected("Catalog Sync", "70 Permission denied") +
              "detail: another CatalogSync run holds the database: $DB\n",
       .run = [](auto& sb, auto& args) {
         const int folder = ::open(sb.databases().c_str(), O_RDONLY | O_DIRECTORY);
         EXPECT_EQ(::flock(folder, LOCK_EX), 0);
         const RunResult r = sb.Run("CatalogSync", args);
         ::close(folder); return r; }, .marker_kept = true},
      // A reader holds its shared lock past the busy timeout, so the COMMIT fails.
      {.name = "a reader holds its lock past the commit",
       .err = Unexpected("UpdateAssay 40", "5 database is locked") + "detail: SQL: COMMIT\n" +
              kRolledBack,
       .run = [](auto& sb, auto& args) {
         Database reader = Database::Open(sb.database());
         reader.Exec("BEGIN");
         EXPECT_EQ(reader.Query("SELECT COUNT(*) FROM Tests").rows.size(), 1u);
         const RunResult r = sb.Run("CatalogSync", args);
         reader.Exec("ROLLBACK"); return r; }},
      // A writer holds its lock past the busy timeout, so the walk cannot begin: no test was read.
      {.name = "a writer holds its lock past the begin",
       .err = Unexpected("UpdateAssay 0", "5 database is locked") +
              "detail: SQL: BEGIN IMMEDIATE\n" + kRolledBack,
       .run = [](auto& sb, auto& args) {
         Database writer = Database::Open(sb.database());
         writer.Exec("BEGIN IMMEDIATE; DELETE FROM Kits");
         const RunResult r = sb.Run("CatalogSync", args);
         writer.Exec("ROLLBACK"); return r; }},
      // A client commits between backup copy and walk (which waits for its lock): the failed walk
      // is rolled back, the client's row stays, the database, reached through a link, stays one.
      {.name = "a client commits during the run", .package = failing,
       .prepare = [](auto& sb) { LinkTo(sb.database(), sb.Sub("Corvista1k.mdb")); },
       .err = TooLong("FAR TOO LONG"), .db = Db::kChanged, .check = [=](auto& sb) {
         EXPECT_TRUE(fs::is_symlink(sb.database())); integrity_ok(sb);
         Count(sb, "Kits WHERE Kits_LotNumber = 'OTHER'", 1);
         Count(sb, "Tests WHERE Tests_ID = 40", 0); },
       .run = [](auto& sb, auto& args) {
         Database client = Database::Open(sb.database());
         client.Exec("BEGIN IMMEDIATE;"
                     "INSERT INTO Kits (Kits_TestsID, Kits_LotNumber) VALUES (9, 'OTHER')");
         RunResult r;
         std::thread run([&] { r = sb.Run("CatalogSync", args); });
         while (!Exists(Backup(sb))) ::usleep(1000);
         client.Exec("COMMIT"); run.join(); return r; }},
      {.name = "five sheets, the package through a link", .args = {"QVR"}, .workbook = five,
       .prepare = [](auto& sb) { LinkTo(Package(sb), sb.Sub("elsewhere/CatalogSync.dat", true)); },
       .status = 0, .package_assays = 4, .check = [](auto& sb) {
         EXPECT_EQ(fs::read_symlink(Package(sb)), sb.Sub("elsewhere/CatalogSync.dat"));
         EXPECT_TRUE(TemporaryFilesIn(sb.Sub("elsewhere")).empty());
         CheckFiveSheets(sb); }},
      // A link is followed to a regular file only; the special file it leads to keeps its place.
      {.name = "package a link to a FIFO", .args = {"QVR"}, .workbook = five,
       .prepare = [](auto& sb) {
         Replace(sb.Sub("elsewhere/fifo", true), Plant::kFifo);
         Replace(Package(sb), Plant::kLink, sb.Sub("elsewhere/fifo")); },
       .err = Unexpected("ImportData30", "57 Device I/O error") + "detail: file: $PKG\n" +
              "detail: system: not a regular file: a FIFO\ndetail: link to: $ROOT/elsewhere/fifo\n",
       .check = [](auto& sb) {
         EXPECT_EQ(fs::status(sb.Sub("elsewhere/fifo")).type(), fs::file_type::fifo);
         EXPECT_TRUE(TemporaryFilesIn(sb.Sub("elsewhere")).empty()); }},
      // With a site's own normal range of test 14; the database as it then is, kept.
      {.name = "example workbook", .args = {"QVR"},
       .workbook = SourceDir() + "/examples/CatalogSync.xls", .prepare = [](auto& sb) {
         Database::Open(sb.database()).Exec("INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, "
             "TR_Low, TR_High, TR_Desc, TR_LowOperator, TR_HighOperator) "
             "VALUES (14, 1, 3.4, 5.4, 'NORMAL', 0, 0)");
         CopyFile(sb.database(), sb.Sub("start.mdb")); },
       .status = 0, .package_assays = 8, .plan = true,
       .outcomes = {"added", "added", "added", "added", "added", "deleted (no such test)", "added",
                    "skipped (test number 0)"},
       .check = CheckExampleWorkbook, .history = History::kSealed},
      {.name = "empty workbook", .args = {"QVR"},
       .prepare = [](auto& sb) { WriteFile(Workbook(sb), ""); },
       .err = Unexpected("ImportData0", "3100 Not a workbook file") +
              "detail: problem: not a compound file\ndetail: file: $WB\n"},
      // libgsf's warnings about the directory must not reach standard error.
      workbook_fails("damaged-directory", Unexpected("ImportData0", "3103 Workbook is damaged") +
                     "detail: record offset: 1269\ndetail: problem: string data cut off\n"
                     "detail: file: $WB\n"),
      // Test 12 on sheet 2, then a chart sheet (made by hand: LibreOffice makes it a worksheet).
      {.name = "chart sheet", .args = {"QVR"}, .prepare = [](auto& sb) {
         namespace wb = workbook_test;
         WriteFile(Workbook(sb), wb::CompoundFile(wb::Stream({{"Cover", 0, 0, ""},
             {"GLU", 0, 0, wb::Number(2, 2, 12)}, {"Volumes", 2, 0, ""}}))); },
       .err = Unexpected("ImportData12", "438 Object doesn't support this property or method") +
              "detail: sheet: position 3, \"Volumes\"\n"
              "detail: problem: a chart or module sheet has no cells\n"},
      workbook_fails("one-sheet", Unexpected("ImportData0", "9 Subscript out of range") +
                     "detail: sheets: 1 (assays from sheet 2 on)\n"
                     "detail: test-volume table: cannot be sized to assay positions 1 to 0\n"),
      alb("text-in-h11", "13 Type mismatch", "H11 (CalibrationFreq)", "\"monthly\""),
      alb("h26-300", "6 Overflow", "H26 (NumOfCalibrators)", "300"),
      alb("h26-minus-1", "6 Overflow", "H26 (NumOfCalibrators)", "-1"),
      alb("h17-40000", "6 Overflow", "H17 (NumOfReagents)", "40000"),
      alb("e5-beyond-single", "6 Overflow", "E5 (SampleVol)", "1E+39"),
      alb("error-in-number", "13 Type mismatch", "H10 (ConversionFactor)", "Error 2007"),
      alb("error-in-flag", "13 Type mismatch", "H31 (Active)", "Error 2042"),
      alb("error-in-text", "13 Type mismatch", "H7 (TestFullName)", "Error 2015"),
      alb("error-in-volume", "13 Type mismatch", "C13 (InitWater of part 1)", "Error 2023"),
      // B2 itself fails: the title keeps the test number of sheet 2.
      alb("text-in-b2", "13 Type mismatch", "B2 (TestNumber)", "\"x\"", "ImportData12"),
      // A full name of 32,767 characters, read whole and refused by the field.
      {.name = "32767 characters in H7", .args = {"QVR"}, .workbook = Fixture("long-text-in-h7"),
       .err = Refused(14, "MODIFY", "Tests_FullName", "TEXT(50)", '"' + long_text + '"'),
       .package_assays = 2},
      // 32,766 assays, the most a package holds, all but the last skipped (test number 0) after
      // they were read; built in a child, whose memory the later runs do not inherit.
      {.name = "the largest package", .prepare = [](auto& sb) { RunInKilledChild([&] {
         std::vector<Spec> specs(catalog_sync::kMaxAssayCount - 1, {0, "SKIP", "ADD"});
         specs.push_back({40, "LAST", "ADD"});
         WriteAssays(sb, specs, specs.size()); }); },
       .status = 0, .check = [](auto& sb) {
         EXPECT_EQ(Text(sb, "SELECT Tests_Name FROM Tests WHERE Tests_ID = 40"), "LAST");
         Count(sb, "Tests", 4); },
       .large = true},
  };
  for (const Plant p : {Plant::kLink, Plant::kDanglingLink, Plant::kHardLink, Plant::kFifo}) {
    rows.push_back(planted("planted at the backup path", "INSTALL", p, Backup, false));
    rows.push_back(planted("planted at the temporary name", "QVR", p, [](const Sandbox& sb) {
      return sb.InProgram(".CatalogSync.dat.tmp"); }, false));
    rows.push_back(planted("planted at the marker", "INSTALL", p,
                           [](const Sandbox& sb) { return sb.marker("CatalogSync"); }, true));
  }
  // clang-format on
  return rows;
}

// Each entry of the Logs folder by name: a file's bytes, or what else it is.
std::map<std::string, std::string> LogsFolder(const Sandbox& sb) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::directory_iterator(sb.logs())) {
    entries[entry.path().filename()] = entry.is_regular_file() ? ReadFile(entry.path()) : "(other)";
  }
  return entries;
}

// The history holds the run's sealed record alone, with nothing beside it (no lock file, no
// journal): the run as it started, its outcome exactly as the operator saw it, and the rows the
// database changed by (none after a failure); of a planned run, each assay's rows as planned.
void CheckRecord(const Sandbox& sb, const Row& row, const RunResult& r, const Planned* planned) {
  EXPECT_EQ(LogsFolder(sb).size(), 1u);
  platform::history::HistoryReader reader(HistoryFile(sb));
  const platform::history::HistoryReader::Verdict verdict = reader.Verify();
  EXPECT_EQ(std::tuple(verdict.sealed, verdict.unfinished.size(), verdict.broken_run),
            std::tuple(1, 0u, std::nullopt))
      << verdict.broken_reason;
  const auto runs = reader.List();
  ASSERT_EQ(runs.size(), 1u);
  const std::optional<platform::history::RunRecord> run = reader.Read(runs[0].number);
  ASSERT_TRUE(run && run->seal);
  const platform::history::RunHeader& h = run->header;
  std::string line;
  for (const std::string& arg : row.args) line += (line.empty() ? "" : " ") + arg;
  const std::string source = row.args[0] == "QVR" ? Workbook(sb) : Package(sb);
  const std::string bytes = ReadFile(source);
  EXPECT_EQ(
      std::tuple(h.program, h.command_line, h.database, h.source, h.source_size, h.source_sha256),
      std::tuple("CatalogSync"s, line, sb.database(), source,
                 static_cast<std::int64_t>(bytes.size()), platform::history::Sha256Hex(bytes)));
  const platform::history::RunEnd& end = run->seal->end;
  EXPECT_EQ(std::tuple(end.succeeded, end.exit_status, end.message),
            std::tuple(r.exit_status == 0, r.exit_status, r.err));
  if (r.exit_status != 0) {
    EXPECT_TRUE(run->changes.empty());
    return;
  }
  const auto [recorded, real] = CompareWithDatabase({*run}, sb.Sub("before.mdb"), sb.database());
  EXPECT_EQ(recorded, real);
  if (!planned) return;
  std::vector<std::string> groups, planned_groups;
  for (const auto& change : run->changes) groups.push_back(change.group);
  for (const json& assay : planned->plan["assays"]) {
    planned_groups.insert(planned_groups.end(), assay["changes"].size(),
                          "assay " + assay["test"].dump());
  }
  EXPECT_EQ(groups, planned_groups);
}

class CatalogSyncRun : public ::testing::TestWithParam<Row> {};

TEST_P(CatalogSyncRun, EndsAsTheRowSays) {
  const Row& row = GetParam();
  Sandbox sb;
  sb.Install("CATALOGSYNC_BIN", "CatalogSync");
  sb.CreateDatabase();
  WriteAssays(sb, row.package, row.package.size());
  if (!row.workbook.empty()) CopyFile(row.workbook, Workbook(sb));
  WriteFile(sb.marker("CatalogSync"), "");
  if (row.history != History::kNoLogs) MakeFolders(sb.logs());
  if (row.prepare) row.prepare(sb);
  ASSERT_FALSE(HasFatalFailure());
  RunResult r;
  std::string db_before, package_before;
  std::optional<Planned> planned;
  std::map<std::string, std::string> logs_before;
  {
    std::optional<ScopedMount> mount = row.mount ? std::optional(row.mount(sb)) : std::nullopt;
    if (mount) {
      SKIP_UNLESS_MOUNTED(*mount);
    }
    db_before = Bytes(sb.database());
    const bool small = fs::is_regular_file(Package(sb)) && fs::file_size(Package(sb)) < (1u << 26);
    package_before = small ? ReadFile(Package(sb)) : "";
    if (row.plan) planned = PlanFirst(sb, row);
    if (row.history == History::kSealed) CopyFile(sb.database(), sb.Sub("before.mdb"));
    if (row.history == History::kKept) logs_before = LogsFolder(sb);
    r = row.run ? row.run(sb, row.args) : sb.Run("CatalogSync", row.args);
  }
  EXPECT_EQ(std::pair(r.exit_status, r.out), std::pair(row.status, ""s));
  const std::string err = Expand(row.err, sb);
  EXPECT_EQ(Matches(r.err, err) ? err : r.err, err);  // a mismatch shown as a difference
  // Nothing is read into memory whole that need not be.
  const long package_kb = static_cast<long>(package_before.size() / 1024);
  EXPECT_LT(Sanitized() ? 0 : r.peak_rss_kb, 65536 + (row.large ? 8 * package_kb : 0));
  EXPECT_EQ(Exists(sb.marker("CatalogSync")), row.status == 0 || row.marker_kept);
  EXPECT_TRUE(row.status != 0 || ReadFile(sb.marker("CatalogSync")).empty());
  EXPECT_FALSE(fs::is_regular_file(Backup(sb)));
  EXPECT_TRUE(TemporaryFilesIn(sb.databases()).empty());
  EXPECT_TRUE(TemporaryFilesIn(sb.program_folder()).empty());
  const bool journal = row.db == Db::kJournalKept;
  EXPECT_EQ(Exists(sb.database() + "-journal"), journal);  // a journal is never deleted
  EXPECT_FALSE(!journal && Exists(sb.lock_file()));
  EXPECT_EQ(Exists(sb.database()), row.db != Db::kMissing);
  if ((row.status != 0 && row.db == Db::kUnchanged) || journal) {
    EXPECT_TRUE(Bytes(sb.database()) == db_before) << "the database file changed";
  }
  if (!package_before.empty()) {
    EXPECT_EQ(ReadFile(Package(sb)) == package_before, !row.package_assays) << "package rewritten";
    EXPECT_EQ(row.package_assays ? ReadPackage(sb).assays.Count() : 0, row.package_assays);
  }
  switch (row.history) {
    case History::kNoLogs: EXPECT_FALSE(Exists(sb.logs())); break;
    case History::kNone: EXPECT_TRUE(fs::is_empty(sb.logs())); break;
    case History::kKept: EXPECT_EQ(LogsFolder(sb), logs_before); break;
    case History::kSealed: CheckRecord(sb, row, r, planned ? &*planned : nullptr); break;
  }
  if (row.check) row.check(sb);
  if (planned) HoldPlan(sb, row, *planned, r);
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  std::string name = std::to_string(info.index) + "_" + info.param.name;
  std::ranges::replace_if(
      name, [](unsigned char c) { return !std::isalnum(c); }, '_');
  return name;
}
INSTANTIATE_TEST_SUITE_P(Rows, CatalogSyncRun, ::testing::ValuesIn(AllRows()), RowName);

}  // namespace
