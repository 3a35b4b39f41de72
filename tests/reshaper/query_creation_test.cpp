#include <gtest/gtest.h>

#include <map>

#include "platform/engine/schema.h"
#include "reshaper/mod_procedures.h"
#include "tests/reshaper/step_test.h"

namespace reshaper {
namespace {

using platform::engine::SavedQuery;
using reshaper_test::StepTest;

class CreateQueriesTest : public StepTest {
 protected:
  std::map<std::string, std::string> TargetQueries() {
    std::map<std::string, std::string> out;
    for (const auto& query : platform::engine::SavedQueries(target())) out[query.name] = query.sql;
    return out;
  }
};

const std::vector<SavedQuery> kTargetQueries{
    {"QTests", "SELECT Tests_ID FROM Tests"},
    {"QOwn", "SELECT Version_Number FROM SoftwareVersion"},
};
const std::vector<SavedQuery> kShellQueries{
    {"QTests", "SELECT Tests_ID, Tests_Name FROM Tests"},
    {"QUpper", "UPDATE Tests SET Tests_Name = UCASE(Tests_Name)"},
};

TEST_F(CreateQueriesTest, ShellWithoutQueriesLeavesTheTargetAsItWas) {
  Build("", {}, "", kTargetQueries);
  ASSERT_TRUE(CreateQueries(target(), shell(), &failure_));
  EXPECT_EQ(TargetQueries(), (std::map<std::string, std::string>{
                                 {"QOwn", "SELECT Version_Number FROM SoftwareVersion"},
                                 {"QTests", "SELECT Tests_ID FROM Tests"}}));
}

TEST_F(CreateQueriesTest, ReplacesAndAddsShellQueriesAndKeepsTargetOnlyOnes) {
  Build("", kShellQueries, "", kTargetQueries);
  ASSERT_TRUE(CreateQueries(target(), shell(), &failure_));
  const std::map<std::string, std::string> expected{
      {"QOwn", "SELECT Version_Number FROM SoftwareVersion"},
      {"QTests", "SELECT Tests_ID, Tests_Name FROM Tests"},
      {"QUpper", "UPDATE Tests SET Tests_Name = UCASE(Tests_Name)"}};
  EXPECT_EQ(TargetQueries(), expected);
  // The replaced SELECT is the view other programs read.
  EXPECT_EQ(target().Query("SELECT * FROM QTests").columns.size(), 2u);

  // A second run deletes and recreates every shell query: the same result.
  ASSERT_TRUE(CreateQueries(target(), shell(), &failure_));
  EXPECT_EQ(TargetQueries(), expected);
}

TEST_F(CreateQueriesTest, QueryNamedInOtherLetterCaseStaysAndTheCreationFails) {
  Build("", kShellQueries, "", {{"qtests", "SELECT 1"}});
  EXPECT_FALSE(CreateQueries(target(), shell(), &failure_));
  EXPECT_EQ(TargetQueries(), (std::map<std::string, std::string>{{"qtests", "SELECT 1"}}));
  EXPECT_EQ(Detail("step"), "query creation");
  EXPECT_EQ(Detail("query"), "QTests");
  EXPECT_EQ(Detail("engine").substr(0, 4), "3007");
}

TEST_F(CreateQueriesTest, QueryTheTargetCannotRunStopsTheStepAfterEarlierOnes) {
  Build("CREATE TABLE ShellOnly (X LONG);",
        {{"QTests", "SELECT Tests_Name FROM Tests"},
         {"QShellOnly", "SELECT X FROM ShellOnly"},
         {"QLater", "SELECT 2"}},
        "", kTargetQueries);
  EXPECT_FALSE(CreateQueries(target(), shell(), &failure_));
  EXPECT_EQ(TargetQueries(), (std::map<std::string, std::string>{
                                 {"QOwn", "SELECT Version_Number FROM SoftwareVersion"},
                                 {"QTests", "SELECT Tests_Name FROM Tests"}}));
  EXPECT_EQ(Detail("query"), "QShellOnly");
  EXPECT_EQ(Detail("sql"), "SELECT X FROM ShellOnly");
}

}  // namespace
}  // namespace reshaper
