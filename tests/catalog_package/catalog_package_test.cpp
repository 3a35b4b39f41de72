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
#include "tests/support/catalog.h"
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
};
// A build of a spoilt catalogue, refused naming the assay and the property.
const auto Refused = [](const char* name, std::function<void(json&)> spoil, std::string err) {
  return Row{name, {"build", "$D/bad.json", "$D/CatalogSync.dat"}, 1, err, "", spoil};
};
const auto Usage = [](std::vector<std::string> args) { return Row{"Usage", args, 2, kUsage}; };
const auto Assay3 = [](json& d) -> json& { return d["assays"][2]; };  // CREA, TestNumber 21

const char* const kProjectVersion = std::getenv("PROJECT_VERSION");  // from CMake
const std::string kVersion = std::string("CatalogPackage (corvista1000-tools) ") +
                             (kProjectVersion ? kProjectVersion : "(unset)") + "\n";

// clang-format off
const Row kRows[] = {
    // Refused before any file is opened: the database named is not made.
    Usage({}), Usage({"list"}), Usage({"dump"}), Usage({"build", "only-one"}),
    Usage({"plan", "$D/Corvista1k.mdb"}), Usage({"plan", "a.dat", "$D/Corvista1k.mdb", "extra"}),
    Usage({"plan", "--text", "a.dat", "$D/Corvista1k.mdb"}),
    // GNU's standard options: the answer on standard output, whatever follows.
    {"Help", {"--help", "dump"}, 0, "", kUsage},
    {"Help", {"--help"}, 0, "", "\n  CatalogPackage plan [--json] <source> <database>"},
    {"Version", {"--version"}, 0, "", kVersion},
    {"DamagedPackage", {"dump", "$D/CatalogSync.dat"}, 1, "cannot read the package"},
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
  const RunResult r = Package(args);
  EXPECT_EQ(r.exit_status, row.status);
  EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
  EXPECT_TRUE(row.status != 0 || r.err.empty()) << r.err;
  ASSERT_NE(kProjectVersion, nullptr);
  EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
  EXPECT_TRUE(row.status == 0 || r.out.empty()) << r.out;
  EXPECT_EQ(ReadFile(package), old_package);
  EXPECT_FALSE(Exists(dir.Sub("Corvista1k.mdb")));
}
INSTANTIATE_TEST_SUITE_P(Rows, CatalogPackageRun, ::testing::ValuesIn(kRows), [](const auto& info) {
  return info.param.name + std::to_string(info.index);
});

}  // namespace
