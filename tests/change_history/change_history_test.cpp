// ChangeHistory as the real binary, on histories written by the history's own writer; the
// printable report's escaping and, through Chromium, its pages.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/history/report.h"
#include "platform/history/writer.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

using namespace platform::history;
using namespace testing_support;
using nlohmann::json;
using platform::Value;

RunHeader Header(const std::string& program, const std::string& command_line,
                 const std::string& started) {
  return {program,
          "1.0.0",
          command_line,
          started,
          "+01:00",
          "root",
          "alice",
          "lab-pc-3",
          "/srv/analyser/Corvista1000/Databases/Corvista1k.mdb",
          program == "Reshaper" ? "/usr/lib/corvista1000/InstallShell.mdb"
                                : "/usr/lib/corvista1000/CatalogSync.dat",
          4096,
          std::string(64, 'c')};
}

// One run written as the programs write it; none, a run killed before its seal.
std::string WriteRun(const std::string& path, const RunHeader& header,
                     const std::vector<Change>& changes, const std::optional<RunEnd>& end) {
  if (!end) {
    // Left open, as a killed program leaves it.
    RunInKilledChild([&] { (new HistoryWriter(path, header))->Record(changes); });
    return "";
  }
  HistoryWriter writer(path, header);
  writer.Record(changes);
  return writer.Seal(*end);
}

// A history of three runs under the drive's Logs folder: CatalogSync succeeded, Reshaper failed,
// CatalogSync killed.
struct Fx {
  TempDir dir;
  std::string history = dir.Sub("drive/Corvista1000/Logs/ChangeHistory.db", true);
  std::string h1 =
      WriteRun(history, Header("CatalogSync", "INSTALL", "2026-12-09T04:21:07Z"),
               {{"assay 1",
                 ChangeKind::kUpdate,
                 "Tests",
                 "Tests_ID=12",
                 {{"Tests_Name", Value("GLU"), Value("GLUC")},
                  {"Tests_Cycles", Value(std::int32_t{3}), Value(std::int32_t{4})}}},
                {"assay 2",
                 ChangeKind::kDelete,
                 "Kits",
                 "Kits_ID=7",
                 {{"Kits_Lot", Value("L1"), Value()}, {"Kits_Expiry", Value::Null(), Value()}}}},
               RunEnd{"2026-12-09T04:21:09Z", true, 0, ""});
  std::string h2 = WriteRun(
      history, Header("Reshaper", "INSTALL,QUERY", "2026-12-09T05:00:00Z"),
      {{"QUERY",
        ChangeKind::kQueryReplaced,
        "qryActive",
        "",
        {{"SQL", Value("SELECT 1"), Value("SELECT 2")}}}},
      RunEnd{"2026-12-09T05:00:02Z", false, 1, "Reshaper: Parameter Error. Reshaper Aborted\n"});
  std::string h3 = WriteRun(history, Header("CatalogSync", "QVR", "2026-12-09T06:00:00Z"),
                            {{"assay 1",
                              ChangeKind::kInsert,
                              "Tests",
                              "Tests_ID=30",
                              {{"Tests_Name", Value(), Value("CREA")}}}},
                            std::nullopt);

  // `text` with $D (the folder), $H (the history) and $1, $2 (the seals' hashes) put in.
  std::string Expand(std::string text) const {
    for (const auto& [from, to] : {std::pair{"$H", history},
                                   {"$D", dir.path()},
                                   {"$1", h1},
                                   {"$2", h2},
                                   {"$0", std::string(64, '0')}}) {
      for (std::size_t at; (at = text.find(from)) != std::string::npos;) {
        text.replace(at, 2, to);
      }
    }
    return text;
  }
};

const std::string kUsage =
    "usage: ChangeHistory <command> <arguments>\n"
    "  ChangeHistory [--history <file>] list [--json]  the runs, one line each\n"
    "  ChangeHistory [--history <file>] show <run> [--json]  the run's record: who ran what on "
    "which\n"
    "                   file, every change (before \u2192 after) and how it ended\n"
    "  ChangeHistory [--history <file>] verify [--json]  checks the chain of seals\n"
    "  ChangeHistory [--history <file>] report <run> --html <file>  the run's printable report\n"
    "  ChangeHistory --help | --version\n";

struct Row {
  const char* name;
  std::vector<std::string> args;  // run with SYSTEM_DRIVE=$D/drive
  int status;
  std::string out;
  std::string err = "";
  bool whole = true;                                         // else: out and err begin so
  std::function<void(const Fx&, const RunResult&)> check{};  // what else holds
  const char* tamper = nullptr;                              // SQL run on the history first
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

const auto Usage = [](std::vector<std::string> args) { return Row{"Usage", args, 2, "", kUsage}; };
const auto Json = [](const RunResult& r) { return json::parse(r.out); };
const auto Page = [](const Fx& f, const char* name) { return ReadFile(f.dir.Sub(name)); };

// clang-format off
const Row kRows[] = {
    Usage({}), Usage({"list", "extra"}), Usage({"show"}), Usage({"show", "0"}),
    Usage({"show", "1x"}), Usage({"report", "1"}), Usage({"report", "1", "--html"}),
    Usage({"verify", "--text"}), Usage({"--history"}),
    {"Help", {"--help", "list"}, 0, kUsage},
    {"Version", {"--version"}, 0, "ChangeHistory (corvista1000-tools) " +
                                      std::string(std::getenv("PROJECT_VERSION") ?: "?") + "\n"},
    {"List", {"list"}, 0,
     "1  2026-12-09T04:21:07Z  CatalogSync INSTALL  succeeded  2 changes  root (sudo alice)\n"
     "2  2026-12-09T05:00:00Z  Reshaper INSTALL,QUERY  failed (exit status 1)  1 change  "
     "root (sudo alice)\n"
     "3  2026-12-09T06:00:00Z  CatalogSync QVR  unfinished  1 change  root (sudo alice)\n"},
    {"ListJson", {"list", "--json"}, 0, "{", "", false, [](const Fx& f, const RunResult& r) {
       const json runs = Json(r)["runs"];
       EXPECT_EQ(Json(r)["history"], f.history);
       EXPECT_EQ(runs.size(), 3u);
       EXPECT_EQ(runs[0]["header"]["source"]["sha256"], std::string(64, 'c'));
       EXPECT_EQ(runs[1]["end"]["exit_status"], 1);
       EXPECT_EQ(runs[2]["end"], nullptr);
       EXPECT_EQ(runs[2]["changes"], 1);
     }},
    {"ShowGroupsEveryChange", {"show", "1"}, 0, R"(run 1: CatalogSync 1.0.0 INSTALL
started: 2026-12-09T04:21:07Z (local offset +01:00) by root (sudo alice) on lab-pc-3
database: /srv/analyser/Corvista1000/Databases/Corvista1k.mdb
source: /usr/lib/corvista1000/CatalogSync.dat, 4096 bytes, SHA-256 )" + std::string(64, 'c') + R"(
outcome: succeeded, ended 2026-12-09T04:21:09Z
seal 1: $1 (previous $0)
changes: 2
assay 1:
  update Tests Tests_ID=12
    Tests_Name: "GLU" (Text) → "GLUC" (Text)
    Tests_Cycles: 3 (Long) → 4 (Long)
assay 2:
  delete Kits Kits_ID=7
    Kits_Lot: "L1" (Text) → —
    Kits_Expiry: Null → —
)"},
    {"ShowFailedRun", {"show", "2"}, 0, R"(run 2: Reshaper 1.0.0 INSTALL,QUERY
started: 2026-12-09T05:00:00Z (local offset +01:00) by root (sudo alice) on lab-pc-3
database: /srv/analyser/Corvista1000/Databases/Corvista1k.mdb
source: /usr/lib/corvista1000/InstallShell.mdb, 4096 bytes, SHA-256 )" + std::string(64, 'c') + R"(
outcome: failed (exit status 1), ended 2026-12-09T05:00:02Z
Reshaper: Parameter Error. Reshaper Aborted
seal 2: $2 (previous $1)
changes: 1
QUERY:
  query replaced qryActive
    SQL: "SELECT 1" (Text) → "SELECT 2" (Text)
)"},
    {"ShowJson", {"show", "1", "--json"}, 0, "{", "", false, [](const Fx& f, const RunResult& r) {
       const json run = Json(r);
       EXPECT_EQ(run["seal"]["hash"], f.h1);
       EXPECT_EQ(run["seal"]["end"]["succeeded"], true);
       EXPECT_EQ(run["changes"][0]["columns"][1]["after"], json({{"type", "Long"}, {"value", 4}}));
       EXPECT_EQ(run["changes"][1]["columns"][1]["before"],
                 json({{"type", "Null"}, {"value", nullptr}}));
       EXPECT_EQ(run["changes"][1]["columns"][1]["after"], nullptr);
       EXPECT_EQ(run["changes"][1]["group"], "assay 2");
     }},
    {"ShowUnfinished", {"show", "3", "--json"}, 0, "{", "", false,
     [](const Fx&, const RunResult& r) { EXPECT_EQ(Json(r)["seal"], nullptr); }},
    {"NoSuchRun", {"show", "4"}, 1, "", "ChangeHistory: $H: no run 4\n"},
    {"NoHistory", {"--history", "$D/none.db", "list"}, 1, "",
     "ChangeHistory: $D/none.db: 53 File not found\n", false},
    {"VerifyHolds", {"verify"}, 0, "2 seals checked\nrun 3: unfinished\nthe chain holds\n"},
    {"VerifyJson", {"verify", "--json"}, 0, "{", "", false, [](const Fx& f, const RunResult& r) {
       EXPECT_EQ(Json(r), json::parse(f.Expand(R"({"history": "$H", "sealed": 2,
           "unfinished": [3], "holds": true, "broken": null})")));
     }},
    {"VerifyNamesTheChangedRun", {"verify"}, 1, "1 seal checked\nrun 3: unfinished\n"
     "run 1 does not match its seal: ", "", false, {},
     "UPDATE Changes SET Body = CAST(replace(CAST(Body AS TEXT), 'Tests_ID=12', 'Tests_ID=13') "
     "AS BLOB) WHERE Id >> 32 = 1"},
    {"VerifyNamesTheChangedSeal", {"verify", "--json"}, 1, "{", "", false,
     [](const Fx&, const RunResult& r) {
       EXPECT_EQ(Json(r)["holds"], false);
       EXPECT_EQ(Json(r)["broken"]["run"], 2);
     },
     "UPDATE Seals SET ExitStatus = 0 WHERE Run = 2"},
    {"Report", {"report", "1", "--html", "$D/run1.html"}, 0, "", "", true,
     [](const Fx& f, const RunResult&) {
       const std::string page = Page(f, "run1.html");
       EXPECT_NE(page.find("<h1>Change record: CatalogSync run 1</h1>"), std::string::npos);
       EXPECT_NE(page.find(f.h1), std::string::npos);
       EXPECT_NE(page.find("GLUC"), std::string::npos);
     }},
    {"ReportOfUnfinishedRun", {"report", "3", "--html", "$D/run3.html"}, 0, "", "", true,
     [](const Fx& f, const RunResult&) {
       EXPECT_NE(Page(f, "run3.html").find("<b>unfinished</b>"), std::string::npos);
     }},
    {"ReportUnwritable", {"report", "1", "--html", "$D/missing/run1.html"}, 1, "",
     "ChangeHistory: $D/missing/run1.html: ", false},
};
// clang-format on

// The history is only read: its bytes stay as they were.
class ChangeHistoryRun : public ::testing::TestWithParam<Row> {};
TEST_P(ChangeHistoryRun, AnswersAsTheRowSays) {
  const Row& row = GetParam();
  const Fx f;
  if (row.tamper) {
    ASSERT_EQ(Sqlite3(f.history, row.tamper).exit_status, 0);
  }
  const std::string bytes = ReadFile(f.history);
  std::vector<std::string> args = row.args;
  for (std::string& arg : args) arg = f.Expand(arg);
  const RunResult r = testing_support::Run(BinaryFromEnv("CHANGEHISTORY_BIN"), args,
                                           {{"SYSTEM_DRIVE", f.dir.Sub("drive")}});
  EXPECT_EQ(r.exit_status, row.status);
  const std::string out = f.Expand(row.out), err = f.Expand(row.err);
  EXPECT_EQ(row.whole ? r.out : r.out.substr(0, out.size()), out);
  EXPECT_EQ(row.whole ? r.err : r.err.substr(0, err.size()), err);
  if (row.check) row.check(f, r);
  EXPECT_EQ(ReadFile(f.history), bytes);
}
INSTANTIATE_TEST_SUITE_P(Rows, ChangeHistoryRun, ::testing::ValuesIn(kRows), [](const auto& info) {
  return info.param.name + std::to_string(info.index);
});

// Every text of a record lands on the page as its characters: no markup of its own, no script,
// nothing that a browser would fetch; a plan carries no outcome or chain hash.
TEST(ChangeHistoryReport, ShowsEveryTextAsItsCharacters) {
  int n = 0;
  const auto hostile = [&n] {
    return "<script>alert('" + std::to_string(++n) + "')</script></table>&\"";
  };
  RunRecord r{7, Header(hostile(), hostile(), hostile()), {}, std::nullopt};
  for (std::string* text : {&r.header.user, &r.header.sudo_user, &r.header.host, &r.header.database,
                            &r.header.source, &r.header.utc_offset})
    *text = hostile();
  r.changes.push_back({hostile(),
                       ChangeKind::kInsert,
                       hostile(),
                       hostile(),
                       {{hostile(), Value(hostile()), Value(hostile())}}});
  r.seal = Seal{1, {hostile(), false, 1, hostile()}, hostile(), hostile()};
  for (const ReportKind kind : {ReportKind::kRun, ReportKind::kPlan}) {
    const std::string html = RenderReport(r, kind);
    const bool run = kind == ReportKind::kRun;
    for (int i = 1; i <= n; ++i) {
      const std::string escaped = "&lt;script&gt;alert(&#39;" + std::to_string(i) +
                                  "&#39;)&lt;/script&gt;&lt;/table&gt;&amp;&quot;";
      const bool seal_text = i > n - 4;  // the seal's, shown for a run only
      EXPECT_EQ(html.find(escaped) != std::string::npos, run || !seal_text) << i << html;
    }
    for (const char* never : {"<script", "</table>&", "://", "src=", "href=", "url(", "@import"})
      EXPECT_EQ(html.find(never), std::string::npos) << never;
    EXPECT_EQ(html.find("Chain hash") != std::string::npos, run);
    EXPECT_EQ(html.find("To be signed before the run") != std::string::npos, !run);
  }
}

// "K0042": a change's marker, unique among 1,000.
std::string Marker(char letter, int i) {
  const std::string digits = std::to_string(10000 + i);
  return letter + digits.substr(1);
}

// Printed to PDF by Chromium: a 50-assay run of 1,000 changes of mixed heights keeps every change
// and the three signature blocks, and no change's row (its key at the top, its last value at the
// bottom) is split between two pages.
TEST(ChangeHistoryReport, PrintsEveryChangeWholeOnItsPage) {
  RunRecord r{12, Header("CatalogSync", "INSTALL", "2026-12-09T04:21:07Z"), {}, std::nullopt};
  for (int i = 0; i < 1000; ++i) {
    Change change{
        "assay " + std::to_string(i / 20 + 1), ChangeKind::kUpdate, "Tests", Marker('K', i), {}};
    for (int c = 0, count = i % 7 == 0 ? 14 : 1 + i % 3; c < count; ++c)
      change.columns.push_back(
          {"Tests_Column" + std::to_string(c), Value(std::int32_t{c}), Value(std::int32_t{c + 1})});
    change.columns.back().after = Value(Marker('E', i));
    r.changes.push_back(change);
  }
  TempDir dir;
  WriteFile(dir.Sub("report.html"), RenderReport(r, ReportKind::kRun));
  const RunResult chromium = testing_support::Run(
      "/usr/bin/chromium",
      {"--headless", "--disable-gpu", "--no-sandbox", "--no-pdf-header-footer",
       "--user-data-dir=" + dir.Sub("profile"), "--print-to-pdf=" + dir.Sub("report.pdf"),
       "file://" + dir.Sub("report.html")});
  ASSERT_EQ(chromium.exit_status, 0) << chromium.err;
  ASSERT_EQ(testing_support::Run("/usr/bin/pdftotext",
                                 {"-layout", dir.Sub("report.pdf"), dir.Sub("report.txt")})
                .exit_status,
            0);
  std::vector<std::string> pages;  // pdftotext ends each page with a form feed
  std::string text = ReadFile(dir.Sub("report.txt"));
  for (std::size_t at; (at = text.find('\f')) != std::string::npos; text.erase(0, at + 1))
    pages.push_back(text.substr(0, at));
  ASSERT_GT(pages.size(), 20u);
  const auto page_of = [&](const std::string& text) {
    for (std::size_t p = 0; p < pages.size(); ++p)
      if (pages[p].find(text) != std::string::npos) return static_cast<int>(p);
    return -1;
  };
  for (int i = 0; i < 1000; ++i) {
    const int page = page_of(Marker('K', i));
    ASSERT_NE(page, -1) << "change " << i << " is missing";
    EXPECT_EQ(page_of(Marker('E', i)), page) << "change " << i << " is split";
    // The table's headers repeat on the page of each change.
    EXPECT_NE(pages[page].find("Column: before"), std::string::npos) << page;
  }
  for (const char* block : {"Prepared by", "Reviewed by", "Approved by"})
    EXPECT_NE(page_of(block), -1) << block;
}

}  // namespace
