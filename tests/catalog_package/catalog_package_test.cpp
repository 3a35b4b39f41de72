// CatalogPackage's own commands as the real binary, one row per run; its plan is held against
// CatalogSync's runs in tests/catalog_sync.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalog_sync/records/file_manager.h"
#include "platform/history/digest.h"
#include "tests/support/catalog.h"
#include "tests/support/databases.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

using nlohmann::json;
using namespace testing_support;

const auto Package = [](const std::vector<std::string>& args) {
  return Run(BinaryFromEnv("CATALOGPACKAGE_BIN"), args);
};
const auto ExampleJson = [] { return SourceDir() + "/examples/catalog.json"; };

// build then dump gives the example catalogue back; dump then build gives a package of WritePackage
// byte for byte, with values that a careless JSON form would change: extreme and negative-zero
// doubles, subnormal singles, integers at their limits, non-ASCII texts, TestsID and Part that the
// writer ignores, a single that is no short double and one whose shortest text, read as a double,
// rounds to its neighbour.
TEST(CatalogPackage, RoundTripsGiveTheCatalogueAndTheBytesBack) {
  TempDir dir;
  ASSERT_EQ(Package({"build", ExampleJson(), dir.Sub("example.dat")}).exit_status, 0);
  EXPECT_EQ(json::parse(Package({"dump", dir.Sub("example.dat")}).out),
            json::parse(ReadFile(ExampleJson())));
  const Catalog c = SampleCatalog(4, [](std::int16_t i, catalog_sync::Assay& a) {
    if (i == 1) a.SetSampleVol(0.1f);
    if (i == 2) a.SetSampleVol(3.4028235e38f);
    if (i == 3) a.SetSampleVol(std::bit_cast<float>(0x15AE43FDu));
    if (i <= 2) a.SetTestNumber(i == 1 ? -32768 : 32767);
  });
  catalog_sync::FileManager(dir.Sub("original.dat")).WriteProperties(c.assays, c.volumes);
  const RunResult dumped = Package({"dump", dir.Sub("original.dat")});
  ASSERT_EQ(dumped.exit_status, 0) << dumped.err;
  const json document = json::parse(dumped.out);
  EXPECT_EQ(document["assays"][0]["SampleVol"].dump(), "0.1");
  EXPECT_EQ(document["assays"][1]["TestNumber"], 32767);
  EXPECT_FALSE(document["assays"][0]["TestVolumes"][0].contains("TestsID"));
  WriteFile(dir.Sub("dumped.json"), dumped.out);
  ASSERT_EQ(Package({"build", dir.Sub("dumped.json"), dir.Sub("rebuilt.dat")}).exit_status, 0);
  EXPECT_EQ(ReadFile(dir.Sub("rebuilt.dat")), ReadFile(dir.Sub("original.dat")));
}

const std::string kUsage = "usage: CatalogPackage <command> <arguments>\n";
struct Row {
  const char* name;
  std::vector<std::string> args;  // $D stands for the row's folder
  int status;
  std::string err;                        // standard error holds it
  std::string out = "";                   // standard output holds it
  std::function<void(json&)> spoil = {};  // of the example catalogue, as $D/bad.json
  // A plan of the example catalogue ($D/good.dat) against the example database
  // ($D/analyser.mdb): what else holds.
  std::function<void(const TempDir&, const RunResult&)> planned = {};
};
// A build of a spoilt catalogue, refused naming the assay and the property.
const auto Refused = [](const char* name, std::function<void(json&)> spoil, std::string err) {
  return Row{name, {"build", "$D/bad.json", "$D/CatalogSync.dat"}, 1, err, "", spoil};
};
const auto Usage = [](std::vector<std::string> args) { return Row{"Usage", args, 2, kUsage}; };
const auto Assay3 = [](json& d) -> json& { return d["assays"][2]; };  // CREA, TestNumber 21
const auto Plan = [](const char* name, std::vector<std::string> options, int status,
                     std::string err, std::string out,
                     std::function<void(const TempDir&, const RunResult&)> planned) {
  options.insert(options.begin(), "plan");
  options.insert(options.end(), {"$D/good.dat", "$D/analyser.mdb"});
  return Row{name, options, status, err, out, {}, planned};
};
// The source's line: its size and its SHA-256, computed here from its bytes.
const auto SourceLine = [](const std::string& path) {
  const std::string bytes = ReadFile(path);
  return "source: " + path + ", " + std::to_string(bytes.size()) + " bytes, SHA-256 " +
         platform::history::Sha256Hex(bytes) + "\n";
};

const char* const kProjectVersion = std::getenv("PROJECT_VERSION");  // from CMake
const std::string kVersion = std::string("CatalogPackage (corvista1000-tools) ") +
                             (kProjectVersion ? kProjectVersion : "(unset)") + "\n";

// clang-format off
const Row kRows[] = {
    // Refused before any file is opened: the database named is not made.
    Usage({}), Usage({"list"}), Usage({"dump"}), Usage({"build", "only-one"}),
    Usage({"plan", "$D/Corvista1k.mdb"}), Usage({"plan", "a.dat", "$D/Corvista1k.mdb", "extra"}),
    Usage({"plan", "--text", "a.dat", "$D/Corvista1k.mdb"}),
    Usage({"plan", "--html", "a.dat", "$D/Corvista1k.mdb"}),
    Usage({"plan", "a.dat", "$D/Corvista1k.mdb", "--html"}),
    // GNU's standard options: the answer on standard output, whatever follows.
    {"Help", {"--help", "dump"}, 0, "", kUsage},
    {"Help", {"--help"}, 0, "",
     "\n  CatalogPackage plan [--json] [--html <file>] <source> <database>"},
    {"Version", {"--version"}, 0, "", kVersion},
    {"DamagedPackage", {"dump", "$D/CatalogSync.dat"}, 1, "cannot read the package"},
    // The plan names its source by size and SHA-256 first.
    Plan("PlanNamesTheSource", {}, 0, "", "assay 4: test 30",
         [](const TempDir& d, const RunResult& r) {
           EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), SourceLine(d.Sub("good.dat")));
         }),
    // --html: the proposed change, its header as the run's record will be and every row change
    // of the JSON plan as a row, grouped by test number; the JSON names the source too.
    Plan("PlanProposesTheChange", {"--json", "--html", "$D/plan.html"}, 0, "", "",
         [](const TempDir& d, const RunResult& r) {
           const json plan = json::parse(r.out);
           const std::string bytes = ReadFile(d.Sub("good.dat"));
           const std::string page = ReadFile(d.Sub("plan.html"));
           EXPECT_EQ(plan["source_size"], bytes.size());
           EXPECT_EQ(plan["source_sha256"], platform::history::Sha256Hex(bytes));
           for (const std::string& fact : std::vector<std::string>{
                    "<h1>Proposed change: CatalogSync</h1>", "<span class=\"text\">INSTALL</span>",
                    platform::history::Sha256Hex(bytes),
                    "<span class=\"text\">" + d.Sub("analyser.mdb"), "Approved by"})
             EXPECT_NE(page.find(fact), std::string::npos) << fact;
           std::size_t changes = 0, rows = 0;
           for (const json& assay : plan["assays"]) {
             changes += assay["changes"].size();
             const std::string group = "<h3>assay " + assay["test"].dump() + " (";
             EXPECT_EQ(page.find(group) != std::string::npos, !assay["changes"].empty()) << group;
           }
           for (std::size_t at = 0; (at = page.find("<tr><td>", at)) != std::string::npos; ++at)
             ++rows;
           EXPECT_EQ(rows, changes);
           EXPECT_GT(changes, 4u);
         }),
    // A plan that fails writes no page; a page that cannot be written fails the plan.
    {"PlanFailsWithoutPage",
     {"plan", "--html", "$D/plan.html", "$D/CatalogSync.dat", "$D/analyser.mdb"}, 1, "",
     "summary: 0 added", {},
     [](const TempDir& d, const RunResult&) { EXPECT_FALSE(Exists(d.Sub("plan.html"))); }},
    Plan("PlanPageUnwritable", {"--html", "$D/missing/plan.html"}, 1,
         "CatalogPackage: $D/missing/plan.html: 53 File not found\n", "summary: 6 added",
         [](const TempDir&, const RunResult&) {}),
    {"NoJson", {"build", "$D/bad.json", "$D/CatalogSync.dat"}, 1, "not valid JSON"},
    Refused("Missing", [](json& d) { Assay3(d).erase("Cycles"); },
            "assay 3 (TestNumber 21): property \"Cycles\" is missing"),
    Refused("Unknown", [](json& d) { Assay3(d)["Colour"] = 1; },
            "assay 3 (TestNumber 21): property \"Colour\" is not a known property"),
    Refused("ByteTooLarge", [](json& d) { Assay3(d)["Cycles"] = 300; },
            "assay 3 (TestNumber 21): property \"Cycles\": 300 does not fit Byte"),
    Refused("IntegerFraction", [](json& d) { Assay3(d)["Formula"] = 2.5; },
            "property \"Formula\": 2.5 is not an integer"),
    Refused("TestNumberTooLarge", [](json& d) { Assay3(d)["TestNumber"] = 40000; },
            "assay 3 (TestNumber 40000): property \"TestNumber\": 40000 does not fit"),
    Refused("FlagAsText", [](json& d) { Assay3(d)["Active"] = "yes"; },
            "property \"Active\": \"yes\" is not true or false"),
    Refused("SingleOutOfRange", [](json& d) { Assay3(d)["SampleVol"] = 1e39; },
            "property \"SampleVol\": 1e+39 is out of range"),
    Refused("TextAsNumber", [](json& d) { Assay3(d)["TestName"] = 5; },
            "property \"TestName\": 5 is not a string"),
    Refused("VolumeFraction", [](json& d) { Assay3(d)["TestVolumes"][1]["ReagentVol"] = 2.5; },
            "assay 3 (TestNumber 21): TestVolumes[1]: property \"ReagentVol\""),
    Refused("DerivedVolumeProperty", [](json& d) { Assay3(d)["TestVolumes"][0]["TestsID"] = 21; },
            "TestVolumes[0]: property \"TestsID\" is not a known property"),
    Refused("TwoVolumes", [](json& d) { Assay3(d)["TestVolumes"].erase(2); },
            "assay 3 (TestNumber 21): property \"TestVolumes\" must be an array of 3"),
    Refused("NoAssays", [](json& d) { d["assays"] = json::array(); }, "\"assays\" holds no assay"),
    Refused("WrongFormat", [](json& d) { d["format"] = "other"; },
            "\"format\" must be \"corvista-catalog\""),
};
// clang-format on

// Whatever the run, a damaged package in its way is never rewritten and no database is made; a
// failure prints nothing on standard output, a success nothing on standard error.
class CatalogPackageRun : public ::testing::TestWithParam<Row> {};
TEST_P(CatalogPackageRun, EndsAsTheRowSays) {
  const Row& row = GetParam();
  TempDir dir;
  const std::string package = dir.Sub("CatalogSync.dat");
  ASSERT_EQ(Package({"build", ExampleJson(), package}).exit_status, 0);
  std::string old_package = ReadFile(package);
  old_package[old_package.size() / 2] ^= 0x20;
  WriteFile(package, old_package);
  json document = json::parse(ReadFile(ExampleJson()));
  if (row.spoil) row.spoil(document);
  WriteFile(dir.Sub("bad.json"),
            row.spoil ? document.dump(2) : ReadFile(ExampleJson()).substr(0, 200));
  std::vector<std::string> args = row.args;
  for (std::string& a : args)
    if (a.starts_with("$D")) a.replace(0, 2, dir.path());
  if (row.planned) {
    ASSERT_EQ(Package({"build", ExampleJson(), dir.Sub("good.dat")}).exit_status, 0);
    CreateAnalyserDatabase(dir.Sub("analyser.mdb"), SampleDataSql());
  }
  const RunResult r = Package(args);
  const auto expand = [&](std::string text) {
    for (std::size_t at; (at = text.find("$D")) != std::string::npos;)
      text.replace(at, 2, dir.path());
    return text;
  };
  EXPECT_EQ(r.exit_status, row.status);
  EXPECT_NE(r.err.find(expand(row.err)), std::string::npos) << r.err;
  EXPECT_TRUE(row.status != 0 || r.err.empty()) << r.err;
  ASSERT_NE(kProjectVersion, nullptr);
  EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
  // A failed plan still shows the plan; any other failure shows nothing.
  EXPECT_TRUE(row.status == 0 || row.planned || r.out.empty()) << r.out;
  if (row.planned) row.planned(dir, r);
  EXPECT_EQ(ReadFile(package), old_package);
  EXPECT_FALSE(Exists(dir.Sub("Corvista1k.mdb")));
}
INSTANTIATE_TEST_SUITE_P(Rows, CatalogPackageRun, ::testing::ValuesIn(kRows), [](const auto& info) {
  return info.param.name + std::to_string(info.index);
});

}  // namespace
