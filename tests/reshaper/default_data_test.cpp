#include <gtest/gtest.h>

#include "reshaper/mod_procedures.h"
#include "tests/reshaper/step_test.h"

namespace reshaper {
namespace {

using reshaper_test::ReadScalar;
using reshaper_test::StepTest;

class UpdateDefaultDataTest : public StepTest {
 protected:
  std::string NameOf(int id) {
    return ReadScalar(target(),
                      "SELECT Tests_Name FROM Tests WHERE Tests_ID = " + std::to_string(id))
        .Describe();
  }
};

TEST_F(UpdateDefaultDataTest, NoRowFailsAlthoughNothingNeededDoing) {
  Build("");
  EXPECT_FALSE(UpdateDefaultData(target(), shell(), &failure_));
  EXPECT_EQ(Detail("step"), "default data");
  EXPECT_EQ(Detail("cause"), "DefaultData has no rows");
}

TEST_F(UpdateDefaultDataTest, RunsTrimmedStatementsAndSkipsKeyViolations) {
  Build(R"sql(INSERT INTO DefaultData VALUES
      ('   INSERT INTO Tests (Tests_ID, Tests_Name)
         VALUES (3, ''ALT'')   '),
      ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, ''DUP'')'),
      ('UPDATE Tests SET Tests_Name = UCASE(''chol'') || ''!'' WHERE Tests_ID = 2');)sql");
  ASSERT_TRUE(UpdateDefaultData(target(), shell(), &failure_));
  EXPECT_EQ(NameOf(1), "\"GLU\"");
  EXPECT_EQ(NameOf(2), "\"CHOL!\"");
  EXPECT_EQ(NameOf(3), "\"ALT\"");
}

TEST_F(UpdateDefaultDataTest, FailingSecondStatementKeepsTheFirstAndStopsBeforeTheThird) {
  Build(R"sql(INSERT INTO DefaultData VALUES
      ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (3, ''ALT'')'),
      ('INSERT INTO Nowhere (X) VALUES (1)'),
      ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (4, ''LAST'')');)sql");
  EXPECT_FALSE(UpdateDefaultData(target(), shell(), &failure_));
  EXPECT_EQ(NameOf(3), "\"ALT\"");
  EXPECT_EQ(NameOf(4), "Empty");
  EXPECT_EQ(Detail("statement"), R"x(2: "INSERT INTO Nowhere (X) VALUES (1)")x");
  EXPECT_NE(Detail("engine"), "");
}

}  // namespace
}  // namespace reshaper
