// CatalogPackage's own commands as the real binary, one row per run; its
// plan is held against CatalogSync's runs in tests/catalog_sync.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalog_sync/records/file_manager.h"
#include "tests/support/catalog.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

using nlohmann::json;
using namespace testing_support;

std::string Bin() {
  return BinaryFromEnv("CATALOGPACKAGE_BIN");
}
std::string ExampleJson() {
  return SourceDir() + "/examples/catalog.json";
}

// build then dump gives the example catalogue back; dump then build gives a
// package of WritePackage byte for byte, with values that a careless JSON
// form would change: extreme and negative-zero doubles, subnormal singles,
// integers at their limits, non-ASCII texts, TestsID and Part that the
// writer ignores, a single that is no short double and one whose shortest
// text, read as a double, rounds to its neighbour.
TEST(CatalogPackage, RoundTripsGiveTheCatalogueAndTheBytesBack) {
  TempDir dir;
  ASSERT_EQ(
      testing_support::Run(Bin(), {"build", ExampleJson(), dir.Sub("example.dat")}).exit_status, 0);
  const RunResult example = testing_support::Run(Bin(), {"dump", dir.Sub("example.dat")});
  EXPECT_EQ(json::parse(example.out), json::parse(ReadFile(ExampleJson())));

  const Catalog c = SampleCatalog(4, [](std::int16_t i, catalog_sync::Assay& a) {
    if (i == 1) a.SetSampleVol(0.1f);
    if (i == 2) a.SetSampleVol(3.4028235e38f);
    if (i == 3) a.SetSampleVol(std::bit_cast<float>(0x15AE43FDu));
    if (i <= 2) a.SetTestNumber(i == 1 ? -32768 : 32767);
  });
  catalog_sync::FileManager(dir.Sub("original.dat")).WriteProperties(c.assays, c.volumes);
  const RunResult dumped = testing_support::Run(Bin(), {"dump", dir.Sub("original.dat")});
  ASSERT_EQ(dumped.exit_status, 0) << dumped.err;
  const json document = json::parse(dumped.out);
  EXPECT_EQ(document["assays"][0]["SampleVol"].dump(), "0.1");
  EXPECT_EQ(document["assays"][1]["TestNumber"], 32767);
  EXPECT_FALSE(document["assays"][0]["TestVolumes"][0].contains("TestsID"));
  WriteFile(dir.Sub("dumped.json"), dumped.out);
  ASSERT_EQ(testing_support::Run(Bin(), {"build", dir.Sub("dumped.json"), dir.Sub("rebuilt.dat")})
                .exit_status,
            0);
  EXPECT_EQ(ReadFile(dir.Sub("rebuilt.dat")), ReadFile(dir.Sub("original.dat")));
}

struct Row {
  const char* what;
  std::vector<std::string> args;  // $D stands for the row's folder
  int status;
  std::string err;                   // standard error holds it
  std::string out = "";              // standard output holds it
  std::function<void(json&)> spoil;  // of the example catalogue, as $D/bad.json
};
void PrintTo(const Row& r, std::ostream* os) {
  *os << r.what;
}

json& Assay3(json& d) {
  return d["assays"][2];  // CREA, TestNumber 21
}
Row Refused(const char* what, std::function<void(json&)> spoil, const std::string& err) {
  return {what, {"build", "$D/bad.json", "$D/CatalogSync.dat"}, 1, err, "", spoil};
}
Row Usage(std::vector<std::string> args) {
  return {"usage", args, 2, "usage: CatalogPackage", "", {}};
}

const std::string kUsage = "usage: CatalogPackage <command> <arguments>\n";
// The version line but for the version, which the test gets from CMake.
const std::string kVersion = "CatalogPackage (corvista1000-tools) ";

// clang-format off
const Row kRows[] = {
    // Refused before any file is opened: the database named is not made.
    Usage({}), Usage({"list"}), Usage({"dump"}), Usage({"build", "only-one"}), Usage({"plan"}),
    Usage({"plan", "$D/Corvista1k.mdb"}), Usage({"plan", "a.dat", "$D/Corvista1k.mdb", "extra"}),
    Usage({"plan", "--text", "a.dat", "$D/Corvista1k.mdb"}),
    // GNU's standard options: the answer on standard output, whatever follows.
    {"help", {"--help"}, 0, "", kUsage, {}},
    {"help", {"--help"}, 0, "", "\n  CatalogPackage plan [--json] <source> <database>", {}},
    {"help", {"--help", "dump"}, 0, "", kUsage, {}},
    {"version", {"--version"}, 0, "", kVersion, {}},
    {"damaged package", {"dump", "$D/CatalogSync.dat"}, 1, "cannot read the package", "", {}},
    {"text that is no JSON", {"build", "$D/bad.json", "$D/CatalogSync.dat"}, 1, "not valid JSON", "", {}},
    // Each refusal names the assay and the property and writes nothing.
    Refused("missing", [](json& d) { Assay3(d).erase("Cycles"); }, "assay 3 (TestNumber 21): property \"Cycles\" is missing"),
    Refused("unknown", [](json& d) { Assay3(d)["Colour"] = 1; }, "assay 3 (TestNumber 21): property \"Colour\" is not a known property"),
    Refused("byte too large", [](json& d) { Assay3(d)["Cycles"] = 300; }, "assay 3 (TestNumber 21): property \"Cycles\": 300 does not fit Byte"),
    Refused("integer fraction", [](json& d) { Assay3(d)["Formula"] = 2.5; }, "property \"Formula\": 2.5 is not an integer"),
    Refused("test number too large", [](json& d) { Assay3(d)["TestNumber"] = 40000; }, "assay 3 (TestNumber 40000): property \"TestNumber\": 40000 does not fit"),
    Refused("flag as text", [](json& d) { Assay3(d)["Active"] = "yes"; }, "property \"Active\": \"yes\" is not true or false"),
    Refused("single out of range", [](json& d) { Assay3(d)["SampleVol"] = 1e39; }, "property \"SampleVol\": 1e+39 is out of range"),
    Refused("text as number", [](json& d) { Assay3(d)["TestName"] = 5; }, "property \"TestName\": 5 is not a string"),
    Refused("volume fraction", [](json& d) { Assay3(d)["TestVolumes"][1]["ReagentVol"] = 2.5; }, "assay 3 (TestNumber 21): TestVolumes[1]: property \"ReagentVol\""),
    Refused("derived volume property", [](json& d) { Assay3(d)["TestVolumes"][0]["TestsID"] = 21; }, "TestVolumes[0]: property \"TestsID\" is not a known property"),
    Refused("two volumes", [](json& d) { Assay3(d)["TestVolumes"].erase(2); }, "assay 3 (TestNumber 21): property \"TestVolumes\" must be an array of 3"),
    Refused("no assays", [](json& d) { d["assays"] = json::array(); }, "\"assays\" holds no assay"),
    Refused("wrong format", [](json& d) { d["format"] = "other"; }, "\"format\" must be \"corvista-catalog\""),
};
// clang-format on

class CatalogPackageRun : public ::testing::TestWithParam<Row> {};

TEST_P(CatalogPackageRun, EndsAsTheRowSays) {
  const Row& row = GetParam();
  TempDir dir;
  const std::string package = dir.Sub("CatalogSync.dat");
  ASSERT_EQ(testing_support::Run(Bin(), {"build", ExampleJson(), package}).exit_status, 0);
  std::string old_package = ReadFile(package);
  old_package[old_package.size() / 2] ^= 0x20;  // a damaged package, never rewritten
  WriteFile(package, old_package);
  json document = json::parse(ReadFile(ExampleJson()));
  if (row.spoil) row.spoil(document);
  WriteFile(dir.Sub("bad.json"),
            row.spoil ? document.dump(2) : ReadFile(ExampleJson()).substr(0, 200));
  std::vector<std::string> args = row.args;
  for (std::string& a : args) {
    if (a.starts_with("$D")) a.replace(0, 2, dir.path());
  }
  const RunResult r = testing_support::Run(Bin(), args);
  EXPECT_EQ(r.exit_status, row.status);
  EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
  EXPECT_TRUE(row.status != 0 || r.err.empty()) << r.err;
  const char* version = std::getenv("PROJECT_VERSION");
  ASSERT_NE(version, nullptr);
  const std::string out = row.out == kVersion ? kVersion + version + "\n" : row.out;
  EXPECT_NE(r.out.find(out), std::string::npos) << r.out;
  EXPECT_TRUE(row.status == 0 || r.out.empty()) << r.out;
  EXPECT_EQ(ReadFile(package), old_package);
  EXPECT_FALSE(Exists(dir.Sub("Corvista1k.mdb")));
}

INSTANTIATE_TEST_SUITE_P(Rows, CatalogPackageRun, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           std::string name = std::to_string(info.index) + "_" + info.param.what;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
