// The upgrade steps on a target and a shell database opened as the driver
// holds them. What the driver makes of a failing step (its box, log line and
// exit status) is in the program tests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "platform/engine/schema.h"
#include "reshaper/mod_procedures.h"
#include "tests/reshaper/step_test.h"

namespace reshaper {
namespace {

using platform::Value;
using platform::engine::SavedQuery;
using reshaper_test::FieldNames;
using reshaper_test::ReadScalar;
using reshaper_test::StepTest;
using ::testing::ElementsAre;

// ---- MapFieldType and UpdateStructure ----------------------------------------

TEST(MapFieldType, MapsEveryWordAndNothingElse) {
  const std::pair<Value, int> cases[] = {{"TEXT", 10},
                                         {"DOUBLE", 7},
                                         {"BINARY", 9},
                                         {"BOOLEAN", 1},
                                         {"BYTE", 2},
                                         {"INTEGER", 3},
                                         {"FLOAT", 21},
                                         {"CHAR", 18},
                                         {"CURRENCY", 5},
                                         {"DATE", 8},
                                         {"DECIMAL", 20},
                                         {"LONG", 4},
                                         {"NUMERIC", 19},
                                         {"SINGLE", 6},
                                         {"TIME", 22},
                                         {" double ", 7},
                                         {"Long", 4},
                                         {"MEMO", 0},
                                         {"LONGBINARY", 0},
                                         {"TEXT2", 0},
                                         {"\tTEXT", 0},
                                         {"", 0},
                                         {Value(std::int32_t{10}), 0},
                                         {Value::Null(), 0}};
  for (const auto& [word, code] : cases) {
    const Value expected = code ? Value(static_cast<std::int16_t>(code)) : Value("Error");
    const Value result = MapFieldType(word);
    EXPECT_TRUE(result.SameAs(expected)) << word.Describe() << " gave " << result.Describe();
  }
}

class UpdateStructureTest : public StepTest {
 protected:
  platform::engine::FieldInfo Field(const std::string& table, const std::string& name) {
    for (const auto& field : platform::engine::TableFields(target(), table)) {
      if (field.name == name) return field;
    }
    ADD_FAILURE() << "no field " << table << "." << name;
    return {};
  }
  std::string Type(const std::string& name) { return Field("Tests", name).declared_type; }
};

TEST_F(UpdateStructureTest, InstallAddsFieldsWithTypeSizeAndProperties) {
  Build(R"sql(
    INSERT INTO StructureInfo VALUES
      ('Tests', 'Tests_Note', 'TEXT', '40', 'none', -1, 0, '<> ''x''', 'no x please'),
      ('Tests', 'Tests_Reflex', ' boolean ', NULL, NULL, NULL, NULL, NULL, NULL);
  )sql");
  ASSERT_TRUE(UpdateStructure(target(), shell(), "install", &failure_));
  EXPECT_THAT(FieldNames(target(), "Tests"),
              ElementsAre("Tests_ID", "Tests_Name", "Tests_Note", "Tests_Reflex"));
  const auto note = Field("Tests", "Tests_Note");
  EXPECT_EQ(note.declared_type, "TEXT(40)");
  EXPECT_EQ(note.properties.default_value.ToText(), "none");
  EXPECT_TRUE(note.properties.required);
  EXPECT_FALSE(note.properties.allow_zero_length);
  EXPECT_EQ(note.properties.validation_text, "no x please");
  EXPECT_FALSE(note.properties.validation_rule.empty());
  // All properties null: the engine's defaults.
  const auto reflex = Field("Tests", "Tests_Reflex");
  EXPECT_EQ(reflex.declared_type, "YESNO");
  EXPECT_TRUE(reflex.properties.default_value.IsEmpty());
  EXPECT_FALSE(reflex.properties.required);
  EXPECT_TRUE(reflex.properties.allow_zero_length);
  EXPECT_EQ(reflex.properties.validation_rule + reflex.properties.validation_text, "");
  // Existing rows hold null in the new fields.
  EXPECT_TRUE(ReadScalar(target(), "SELECT Tests_Note FROM Tests WHERE Tests_ID = 1").IsNull());
}

TEST_F(UpdateStructureTest, FieldPresentUnderItsNameIsLeftAsItIs) {
  Build(R"sql(INSERT INTO StructureInfo ("Table", Name, DataType, Size, Required)
      VALUES ('Tests', 'Tests_Name', 'LONG', '4', -1);)sql");
  ASSERT_TRUE(UpdateStructure(target(), shell(), "INSTALL", &failure_));
  EXPECT_EQ(Type("Tests_Name"), "TEXT(10)");
  EXPECT_FALSE(Field("Tests", "Tests_Name").properties.required);
  EXPECT_EQ(ReadScalar(target(), "SELECT Tests_Name FROM Tests WHERE Tests_ID = 1").ToText(),
            "GLU");
}

TEST_F(UpdateStructureTest, RowWithoutSizeTakesTheSizeOfTheLastRowThatHadOne) {
  Build(R"sql(
    INSERT INTO StructureInfo ("Table", Name, DataType, Size) VALUES
      ('Tests', 'Tests_First', 'TEXT', NULL), ('Tests', 'Tests_Sized', 'TEXT', '20'),
      ('Tests', 'Tests_Carried', 'TEXT', NULL), ('Tests', 'Tests_Number', 'LONG', NULL),
      ('Tests', 'Tests_Fixed', 'CHAR', NULL), ('Tests', 'Tests_Resized', 'CHAR', '3'),
      ('Tests', 'Tests_Last', 'TEXT', NULL);
  )sql");
  ASSERT_TRUE(UpdateStructure(target(), shell(), "INSTALL", &failure_));
  EXPECT_EQ(
      std::vector<std::string>({Type("Tests_First"), Type("Tests_Carried"), Type("Tests_Number"),
                                Type("Tests_Fixed"), Type("Tests_Last")}),
      std::vector<std::string>({"TEXT(255)", "TEXT(20)", "LONG", "CHAR(20)", "TEXT(3)"}));
}

TEST_F(UpdateStructureTest, EruDeletesListedFieldsWithTheirDataOnly) {
  Build(R"sql(
    INSERT INTO StructureInfo ("Table", Name, DataType) VALUES
      ('Tests', 'Tests_Name', NULL), ('Tests', 'Tests_Absent', 'MEMO'),
      ('SoftwareVersion', 'version_number', 'TEXT');
  )sql");
  ASSERT_TRUE(UpdateStructure(target(), shell(), "ERU", &failure_));
  EXPECT_THAT(FieldNames(target(), "Tests"), ElementsAre("Tests_ID"));
  EXPECT_EQ(ReadScalar(target(), "SELECT count(*) FROM Tests").ToLong(), 2);
  EXPECT_THAT(FieldNames(target(), "SoftwareVersion"), ElementsAre("Version_ID", "Version_Number"));
}

struct FailingRowCase {
  const char* name;
  const char* rows;  // ("Table", Name, DataType, Required) values; nullptr: none
  const char* mode;
  const char* row;                  // the row detail; nullptr: none
  const char* cause;                // nullptr: not checked
  const char* engine;               // the engine error's beginning; nullptr: not checked
  std::vector<std::string> fields;  // of Tests after the step
};

void PrintTo(const FailingRowCase& c, std::ostream* os) {
  *os << c.name;
}

class FailingRowTest : public UpdateStructureTest,
                       public ::testing::WithParamInterface<FailingRowCase> {};

// A failing row stops the step; the rows before it stay done.
TEST_P(FailingRowTest, StopsTheStepWithItsDetails) {
  const FailingRowCase& c = GetParam();
  Build(c.rows ? std::string("INSERT INTO StructureInfo (\"Table\", Name, DataType, Required) "
                             "VALUES ") +
                     c.rows + ";"
               : "");
  EXPECT_FALSE(UpdateStructure(target(), shell(), c.mode, &failure_));
  EXPECT_EQ(Detail("step"), "structure update");
  EXPECT_EQ(Detail("row"), c.row ? c.row : "");
  if (c.cause) {
    EXPECT_EQ(Detail("cause"), c.cause);
  }
  if (c.engine) {
    EXPECT_EQ(Detail("engine").substr(0, std::string(c.engine).size()), c.engine);
  }
  EXPECT_EQ(FieldNames(target(), "Tests"), c.fields);
}

const std::vector<std::string> kTestsFields{"Tests_ID", "Tests_Name"};
INSTANTIATE_TEST_SUITE_P(
    Rows, FailingRowTest,
    ::testing::Values(
        FailingRowCase{"NoRowsAlthoughNothingNeededDoing", nullptr, "INSTALL", nullptr,
                       "StructureInfo has no rows", nullptr, kTestsFields},
        // The creation is attempted; the engine's names ignore case, so it fails.
        FailingRowCase{"FieldPresentInOtherLetterCase", "('Tests', 'TESTS_NAME', 'TEXT', NULL)",
                       "INSTALL", R"(1: table "Tests", name "TESTS_NAME", type "TEXT")", nullptr,
                       "3007", kTestsFields},
        FailingRowCase{"Memo",
                       "('Tests', 'Tests_A', 'TEXT', NULL), ('Tests', 'Tests_B', 'MEMO', NULL), "
                       "('Tests', 'Tests_C', 'TEXT', NULL)",
                       "INSTALL",
                       R"(2: table "Tests", name "Tests_B", type "MEMO")",
                       "the type word is none of the known words",
                       nullptr,
                       {"Tests_ID", "Tests_Name", "Tests_A"}},
        FailingRowCase{"TruthValueThatDoesNotConvert", "('Tests', 'Tests_A', 'TEXT', 'maybe')",
                       "INSTALL", R"(1: table "Tests", name "Tests_A", type "TEXT")", nullptr,
                       "13 Type mismatch", kTestsFields},
        FailingRowCase{"MissingTableInstall", "('Nowhere', 'X', 'TEXT', NULL)", "INSTALL",
                       R"(1: table "Nowhere", name "X", type "TEXT")", nullptr, "3002",
                       kTestsFields},
        FailingRowCase{"MissingTableEru", "('Nowhere', 'X', 'TEXT', NULL)", "ERU",
                       R"(1: table "Nowhere", name "X", type "TEXT")", nullptr, "3002",
                       kTestsFields}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- UpdateVersion --------------------------------------------------------------

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

struct VersionCase {
  const char* name;
  const char* version_info;  // VersionInfo values
  const char* target_sql;
  const char* engine;    // the engine error's beginning; nullptr: the step succeeds
  const char* versions;  // the target's versions after the step
};

void PrintTo(const VersionCase& c, std::ostream* os) {
  *os << c.name;
}

class VersionCaseTest : public UpdateVersionTest,
                        public ::testing::WithParamInterface<VersionCase> {};

// The names come from the shell's data; whatever they hold, the step changes
// at most the first row's version, and nothing in them acts as SQL.
TEST_P(VersionCaseTest, WritesTheFirstRowOrFailsChangingNothing) {
  const VersionCase& c = GetParam();
  Build(std::string("INSERT INTO VersionInfo VALUES ") + c.version_info + ";", {}, c.target_sql);
  EXPECT_EQ(UpdateVersion(target(), shell(), &failure_), c.engine == nullptr);
  if (c.engine) {
    EXPECT_EQ(Detail("engine").substr(0, std::string(c.engine).size()), c.engine);
  }
  EXPECT_EQ(Versions(), c.versions);
  EXPECT_EQ(ReadScalar(target(), "SELECT group_concat(Tests_Name) FROM Tests").ToText(),
            "GLU,CHOL");
  EXPECT_EQ(FieldNames(target(), "Tests").size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionCaseTest,
    ::testing::Values(
        VersionCase{"FirstTargetRowOnly", "('SoftwareVersion', 'Version_Number', '2.0.0')",
                    "INSERT INTO SoftwareVersion (Version_Number) VALUES ('1.0.1');", nullptr,
                    "2.0.0,1.0.1"},
        VersionCase{
            "FirstVersionInfoRowOnly",
            "('SoftwareVersion', 'Version_Number', '2.0.0'), ('Tests', 'Tests_Name', 'XXX')", "",
            nullptr, "2.0.0"},
        VersionCase{"NamesResolveAsSqlResolvesThem",
                    "(' softwareversion', 'VERSION_NUMBER ', '2.0.0')", "", nullptr, "2.0.0"},
        VersionCase{"EmptyTargetTableGetsNoRow", "('SoftwareVersion', 'Version_Number', '2.0.0')",
                    "DELETE FROM SoftwareVersion;", "", ""},
        VersionCase{"ValueTheFieldRefuses",
                    "('SoftwareVersion', 'Version_Number', "
                    "'2.0.0-a-version-text-longer-than-twenty')",
                    "", "3001", "1.0.0"},
        VersionCase{"HostileTableStatement",
                    "('SoftwareVersion; DROP TABLE Tests', 'Version_Number', '2.0.0')", "", "",
                    "1.0.0"},
        VersionCase{"HostileFieldComment",
                    "('SoftwareVersion', 'Version_Number FROM Tests --', '2.0.0')", "", "",
                    "1.0.0"},
        VersionCase{"HostileTableWhere", "('Tests WHERE 0 = 1', 'Tests_Name', '2.0.0')", "", "",
                    "1.0.0"},
        VersionCase{"HostileMissingField", "('SoftwareVersion', 'Nowhere', '2.0.0')", "", "",
                    "1.0.0"},
        VersionCase{"HostileMissingTable", "('Nowhere', 'Version_Number', '2.0.0')", "", "",
                    "1.0.0"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- UpdateDefaultData -------------------------------------------------------------

class UpdateDefaultDataTest : public StepTest {
 protected:
  std::string Names() {
    return ReadScalar(target(),
                      "SELECT group_concat(Tests_ID || '=' || Tests_Name) FROM "
                      "(SELECT * FROM Tests ORDER BY Tests_ID)")
        .ToText();
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
  EXPECT_EQ(Names(), "1=GLU,2=CHOL!,3=ALT");
}

TEST_F(UpdateDefaultDataTest, FailingSecondStatementKeepsTheFirstAndStopsBeforeTheThird) {
  Build(R"sql(INSERT INTO DefaultData VALUES
      ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (3, ''ALT'')'),
      ('INSERT INTO Nowhere (X) VALUES (1)'),
      ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (4, ''LAST'')');)sql");
  EXPECT_FALSE(UpdateDefaultData(target(), shell(), &failure_));
  EXPECT_EQ(Names(), "1=GLU,2=CHOL,3=ALT");
  EXPECT_EQ(Detail("statement"), R"x(2: "INSERT INTO Nowhere (X) VALUES (1)")x");
  EXPECT_NE(Detail("engine"), "");
}

// ---- CreateQueries ---------------------------------------------------------------

class CreateQueriesTest : public StepTest {
 protected:
  std::map<std::string, std::string> TargetQueries() {
    std::map<std::string, std::string> out;
    for (const auto& query : platform::engine::SavedQueries(target())) out[query.name] = query.sql;
    return out;
  }
  const std::vector<SavedQuery> kTargetQueries{
      {"QTests", "SELECT Tests_ID FROM Tests"},
      {"QOwn", "SELECT Version_Number FROM SoftwareVersion"}};
  const std::vector<SavedQuery> kShellQueries{
      {"QTests", "SELECT Tests_ID, Tests_Name FROM Tests"},
      {"QUpper", "UPDATE Tests SET Tests_Name = UCASE(Tests_Name)"}};
};

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
