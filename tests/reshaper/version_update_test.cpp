#include <gtest/gtest.h>

#include "reshaper/mod_procedures.h"
#include "tests/reshaper/step_test.h"

namespace reshaper {
namespace {

using reshaper_test::FieldNames;
using reshaper_test::ReadScalar;
using reshaper_test::StepTest;

class UpdateVersionTest : public StepTest {
 protected:
  std::string Versions() {
    std::string out;
    for (const auto& row :
         target().Query("SELECT Version_Number FROM SoftwareVersion ORDER BY Version_ID").rows) {
      out += (out.empty() ? "" : ",") + row[0].ToText();
    }
    return out;
  }
};

TEST_F(UpdateVersionTest, WritesTheFirstTargetRowOnly) {
  Build("INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Number', '2.0.0');", {},
        "INSERT INTO SoftwareVersion (Version_Number) VALUES ('1.0.1');");
  ASSERT_TRUE(UpdateVersion(target(), shell(), &failure_));
  EXPECT_EQ(Versions(), "2.0.0,1.0.1");
}

TEST_F(UpdateVersionTest, UsesTheFirstVersionInfoRowOnly) {
  Build(R"sql(INSERT INTO VersionInfo VALUES
      ('SoftwareVersion', 'Version_Number', '2.0.0'), ('Tests', 'Tests_Name', 'XXX');)sql");
  ASSERT_TRUE(UpdateVersion(target(), shell(), &failure_));
  EXPECT_EQ(Versions(), "2.0.0");
  EXPECT_EQ(ReadScalar(target(), "SELECT Tests_Name FROM Tests WHERE Tests_ID = 1").ToText(),
            "GLU");
}

TEST_F(UpdateVersionTest, NamesResolveAsSqlResolvesThem) {
  Build("INSERT INTO VersionInfo VALUES (' softwareversion', 'VERSION_NUMBER ', '2.0.0');");
  ASSERT_TRUE(UpdateVersion(target(), shell(), &failure_));
  EXPECT_EQ(Versions(), "2.0.0");
}

TEST_F(UpdateVersionTest, NoVersionInfoRowFails) {
  Build("");
  EXPECT_FALSE(UpdateVersion(target(), shell(), &failure_));
  EXPECT_EQ(Detail("step"), "version update");
  EXPECT_EQ(Detail("cause"), "VersionInfo has no rows");
}

TEST_F(UpdateVersionTest, EmptyTargetTableFailsAndGetsNoRow) {
  Build("INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Number', '2.0.0');", {},
        "DELETE FROM SoftwareVersion;");
  EXPECT_FALSE(UpdateVersion(target(), shell(), &failure_));
  EXPECT_EQ(ReadScalar(target(), "SELECT count(*) FROM SoftwareVersion").ToLong(), 0);
}

TEST_F(UpdateVersionTest, ValueTheFieldRefusesFails) {
  Build(
      "INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Number', "
      "'2.0.0-a-version-text-longer-than-twenty');");
  EXPECT_FALSE(UpdateVersion(target(), shell(), &failure_));
  EXPECT_EQ(Detail("engine").substr(0, 4), "3001");
  EXPECT_EQ(Versions(), "1.0.0");
}

struct HostileNames {
  const char* table;
  const char* field;
};

class HostileNamesTest : public UpdateVersionTest,
                         public ::testing::WithParamInterface<HostileNames> {};

// The names come from the shell's data: nothing in them may act as SQL.
TEST_P(HostileNamesTest, FailWithoutChangingAnything) {
  Build("INSERT INTO VersionInfo VALUES ('" + std::string(GetParam().table) + "', '" +
        GetParam().field + "', '2.0.0');");
  EXPECT_FALSE(UpdateVersion(target(), shell(), &failure_));
  EXPECT_EQ(Versions(), "1.0.0");
  EXPECT_EQ(ReadScalar(target(), "SELECT count(*) FROM Tests").ToLong(), 2);
  EXPECT_EQ(FieldNames(target(), "Tests").size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileNamesTest,
    ::testing::Values(HostileNames{"SoftwareVersion; DROP TABLE Tests", "Version_Number"},
                      HostileNames{"SoftwareVersion", "Version_Number FROM Tests --"},
                      HostileNames{"Tests WHERE 0 = 1", "Tests_Name"},
                      HostileNames{"SoftwareVersion", "Nowhere"},
                      HostileNames{"Nowhere", "Version_Number"}));

}  // namespace
}  // namespace reshaper
