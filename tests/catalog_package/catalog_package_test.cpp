// CatalogPackage run as the real binary on files in a temporary folder.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "catalog_sync/records/file_manager.h"
#include "tests/support/catalog.h"
#include "tests/support/databases.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

using nlohmann::json;
using testing_support::Run;
using testing_support::RunResult;
using testing_support::TempDir;

std::string Bin() {
  return testing_support::BinaryFromEnv("CATALOGPACKAGE_BIN");
}

std::string ExampleCatalogText() {
  return testing_support::ReadFile(testing_support::SourceDir() + "/examples/catalog.json");
}

RunResult Build(const std::string& json_path, const std::string& package) {
  return Run(Bin(), {"build", json_path, package});
}

RunResult Dump(const std::string& package) {
  return Run(Bin(), {"dump", package});
}

TEST(CatalogPackageRoundTrip, BuildThenDumpGivesTheCatalogueBack) {
  TempDir dir;
  const std::string package = dir.Sub("CatalogSync.dat");
  const RunResult built = Build(testing_support::SourceDir() + "/examples/catalog.json", package);
  ASSERT_EQ(built.exit_status, 0) << built.err;
  const RunResult dumped = Dump(package);
  ASSERT_EQ(dumped.exit_status, 0) << dumped.err;
  EXPECT_EQ(json::parse(dumped.out), json::parse(ExampleCatalogText()));
}

TEST(CatalogPackageRoundTrip, PackageOfWritePropertiesDumpsToJsonThatBuildsTheSameBytes) {
  TempDir dir;
  const std::string original = dir.Sub("original.dat");
  // Values that a careless JSON form would change (extreme and negative-zero
  // doubles, subnormal singles, integers at their limits, non-ASCII texts,
  // TestsID and Part that the writer must ignore), and singles of which the
  // first is no short double and the third's shortest text, read as a
  // double, rounds to its neighbour.
  const testing_support::Catalog c =
      testing_support::SampleCatalog(4, [](std::int16_t i, catalog_sync::Assay& a) {
        if (i == 1) a.SetSampleVol(0.1f);
        if (i == 2) a.SetSampleVol(3.4028235e38f);
        if (i == 3) a.SetSampleVol(std::bit_cast<float>(0x15AE43FDu));
        if (i <= 2) a.SetTestNumber(i == 1 ? -32768 : 32767);
      });
  catalog_sync::FileManager(original).WriteProperties(c.assays, c.volumes);

  const RunResult dumped = Dump(original);
  ASSERT_EQ(dumped.exit_status, 0) << dumped.err;
  const json document = json::parse(dumped.out);
  EXPECT_EQ(document["assays"][0]["SampleVol"].dump(), "0.1");
  EXPECT_EQ(document["assays"][1]["TestNumber"], 32767);
  EXPECT_FALSE(document["assays"][0]["TestVolumes"][0].contains("TestsID"));

  testing_support::WriteFile(dir.Sub("dumped.json"), dumped.out);
  const RunResult built = Build(dir.Sub("dumped.json"), dir.Sub("rebuilt.dat"));
  ASSERT_EQ(built.exit_status, 0) << built.err;
  EXPECT_EQ(testing_support::ReadFile(dir.Sub("rebuilt.dat")), testing_support::ReadFile(original));
}

struct BadCatalogue {
  const char* what;
  std::function<void(json&)> spoil;
  const char* expected;  // part of the error on stderr
};
void PrintTo(const BadCatalogue& c, std::ostream* os) {
  *os << c.what;
}

class CatalogPackageBuildRefuses : public ::testing::TestWithParam<BadCatalogue> {};

TEST_P(CatalogPackageBuildRefuses, NamingAssayAndPropertyAndWritingNothing) {
  TempDir dir;
  json document = json::parse(ExampleCatalogText());
  GetParam().spoil(document);
  testing_support::WriteFile(dir.Sub("bad.json"), document.dump(2));
  const std::string package = dir.Sub("CatalogSync.dat");
  testing_support::WriteFile(package, "old package");

  const RunResult built = Build(dir.Sub("bad.json"), package);
  EXPECT_EQ(built.exit_status, 1);
  EXPECT_NE(built.err.find(GetParam().expected), std::string::npos) << built.err;
  EXPECT_EQ(testing_support::ReadFile(package), "old package");
}

json& Assay3(json& d) {
  return d["assays"][2];
}  // CREA, TestNumber 21

INSTANTIATE_TEST_SUITE_P(
    Cases, CatalogPackageBuildRefuses,
    ::testing::Values(
        BadCatalogue{"missing", [](json& d) { Assay3(d).erase("Cycles"); },
                     "assay 3 (TestNumber 21): property \"Cycles\" is missing"},
        BadCatalogue{"unknown", [](json& d) { Assay3(d)["Colour"] = 1; },
                     "assay 3 (TestNumber 21): property \"Colour\" is not a known property"},
        BadCatalogue{"byte too large", [](json& d) { Assay3(d)["Cycles"] = 300; },
                     "assay 3 (TestNumber 21): property \"Cycles\": 300 does not fit Byte"},
        BadCatalogue{"integer fraction", [](json& d) { Assay3(d)["Formula"] = 2.5; },
                     "property \"Formula\": 2.5 is not an integer"},
        BadCatalogue{"test number too large", [](json& d) { Assay3(d)["TestNumber"] = 40000; },
                     "assay 3 (TestNumber 40000): property \"TestNumber\": 40000 does not fit"},
        BadCatalogue{"flag as text", [](json& d) { Assay3(d)["Active"] = "yes"; },
                     "property \"Active\": \"yes\" is not true or false"},
        BadCatalogue{"single out of range", [](json& d) { Assay3(d)["SampleVol"] = 1e39; },
                     "property \"SampleVol\": 1e+39 is out of range"},
        BadCatalogue{"text as number", [](json& d) { Assay3(d)["TestName"] = 5; },
                     "property \"TestName\": 5 is not a string"},
        BadCatalogue{"volume fraction",
                     [](json& d) { Assay3(d)["TestVolumes"][1]["ReagentVol"] = 2.5; },
                     "assay 3 (TestNumber 21): TestVolumes[1]: property \"ReagentVol\""},
        BadCatalogue{"derived volume property",
                     [](json& d) { Assay3(d)["TestVolumes"][0]["TestsID"] = 21; },
                     "TestVolumes[0]: property \"TestsID\" is not a known property"},
        BadCatalogue{"two volumes", [](json& d) { Assay3(d)["TestVolumes"].erase(2); },
                     "assay 3 (TestNumber 21): property \"TestVolumes\" must be an array of 3"},
        BadCatalogue{"no assays", [](json& d) { d["assays"] = json::array(); },
                     "\"assays\" holds no assay"},
        BadCatalogue{"wrong format", [](json& d) { d["format"] = "other"; },
                     "\"format\" must be \"corvista-catalog\""}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(CatalogPackageBuild, RefusesTextThatIsNoJson) {
  TempDir dir;
  testing_support::WriteFile(dir.Sub("bad.json"), ExampleCatalogText().substr(0, 200));
  const RunResult built = Build(dir.Sub("bad.json"), dir.Sub("CatalogSync.dat"));
  EXPECT_EQ(built.exit_status, 1);
  EXPECT_NE(built.err.find("not valid JSON"), std::string::npos) << built.err;
  EXPECT_FALSE(testing_support::Exists(dir.Sub("CatalogSync.dat")));
}

TEST(CatalogPackageDump, DamagedPackageFailsWithTheReadError) {
  TempDir dir;
  const std::string package = dir.Sub("CatalogSync.dat");
  ASSERT_EQ(Build(testing_support::SourceDir() + "/examples/catalog.json", package).exit_status, 0);
  std::string bytes = testing_support::ReadFile(package);
  bytes[bytes.size() / 2] ^= 0x20;
  testing_support::WriteFile(package, bytes);
  const RunResult dumped = Dump(package);
  EXPECT_EQ(dumped.exit_status, 1);
  EXPECT_EQ(dumped.out, "");
  EXPECT_NE(dumped.err.find("cannot read the package"), std::string::npos) << dumped.err;
}

// Refused before any file is opened: the database named is not made.
TEST(CatalogPackageUsage, WrongCommandLinesExitTwo) {
  TempDir dir;
  const std::string db = dir.Sub("Corvista1k.mdb");
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"list"},
                                               {"dump"},
                                               {"build", "only-one"},
                                               {"plan"},
                                               {"plan", db},
                                               {"plan", "a.dat", db, "extra"},
                                               {"plan", "--text", "a.dat", db}}) {
    const RunResult r = testing_support::Run(Bin(), args);
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage: CatalogPackage"), std::string::npos) << r.err;
    EXPECT_FALSE(testing_support::Exists(db));
  }
}

// GNU's standard options: the answer on standard output, status 0, whatever
// follows the option.
TEST(CatalogPackageUsage, HelpAndVersionAnswerOnStandardOutput) {
  const char* project_version = std::getenv("PROJECT_VERSION");
  ASSERT_NE(project_version, nullptr);
  const std::string version =
      "CatalogPackage (corvista1000-tools) " + std::string(project_version) + "\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--help"}, "usage: CatalogPackage <command> <arguments>\n"},
      {{"--help", "dump"}, "usage: CatalogPackage <command> <arguments>\n"},
      {{"--version"}, version}};
  for (const auto& [args, first_line] : cases) {
    const RunResult r = testing_support::Run(Bin(), args);
    EXPECT_EQ(r.exit_status, 0) << args[0];
    EXPECT_EQ(r.err, "") << args[0];
    EXPECT_EQ(r.out.substr(0, first_line.size()), first_line) << r.out;
  }
  EXPECT_NE(testing_support::Run(Bin(), {"--help"}).out.find("CatalogPackage plan"),
            std::string::npos);
}

}  // namespace
