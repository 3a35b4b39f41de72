// The upgrade steps on a target and a shell database opened as the driver
// holds them. What the driver makes of a failing step (its box, log line and
// exit status) is in the program tests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "platform/engine/schema.h"
#include "reshaper/mod_procedures.h"
#include "tests/reshaper/reshaper_fixture.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace reshaper {
namespace {

using platform::Value;
using platform::engine::SavedQuery;
using reshaper_test::FieldNames;
using reshaper_test::ReadScalar;
using ::testing::ElementsAre;

// A target and a shell database in a temporary folder, both open as the
// driver holds them.
class StepTest : public ::testing::Test {
 protected:
  // The target gets kTargetTables + `target_sql`, the shell kShellTables +
  // `shell_sql` and `shell_queries`; both are then opened. The shell also
  // holds the target's tables, as a release's shell does, so that its
  // queries prepare.
  void Build(const std::string& shell_sql, const std::vector<SavedQuery>& shell_queries = {},
             const std::string& target_sql = "",
             const std::vector<SavedQuery>& target_queries = {}) {
    using reshaper_test::CreateDatabase;
    CreateDatabase(target_path_, std::string(reshaper_test::kTargetTables) + target_sql,
                   target_queries);
    CreateDatabase(
        shell_path_,
        std::string(reshaper_test::kTargetTables) + reshaper_test::kShellTables + shell_sql,
        shell_queries);
    target_.emplace(platform::engine::Database::Open(target_path_));
    shell_.emplace(platform::engine::Database::Open(shell_path_));
  }
  platform::engine::Database& target() { return *target_; }
  platform::engine::Database& shell() { return *shell_; }
  std::string Detail(const std::string& what) const {
    return reshaper_test::DetailValue(failure_.details, what);
  }

  testing_support::TempDir dir_;
  std::string target_path_ = dir_.Sub("Corvista1k.mdb");
  std::string shell_path_ = dir_.Sub("InstallShell.mdb");
  std::optional<platform::engine::Database> target_;
  std::optional<platform::engine::Database> shell_;
  StepFailure failure_;
};

// The codes of the type words, in the engine's numbering; 0: the "Error" marker.
TEST(MapFieldType, MapsEveryWordAndNothingElse) {
  // clang-format off
  const std::pair<Value, int> cases[] = {
      {"TEXT", 10}, {"DOUBLE", 7}, {"BINARY", 9}, {"BOOLEAN", 1}, {"BYTE", 2}, {"INTEGER", 3},
      {"FLOAT", 21}, {"CHAR", 18}, {"CURRENCY", 5}, {"DATE", 8}, {"DECIMAL", 20}, {"LONG", 4},
      {"NUMERIC", 19}, {"SINGLE", 6}, {"TIME", 22}, {" double ", 7}, {"Long", 4}, {"MEMO", 0},
      {"LONGBINARY", 0}, {"TEXT2", 0}, {"\tTEXT", 0}, {"", 0}, {Value(std::int32_t{10}), 0},
      {Value::Null(), 0}};
  // clang-format on
  for (const auto& [word, code] : cases) {
    const Value expected = code ? Value(static_cast<std::int16_t>(code)) : Value("Error");
    const Value result = MapFieldType(word);
    EXPECT_TRUE(result.SameAs(expected)) << word.Describe() << " gave " << result.Describe();
  }
}

// `text` matches `pattern`, where each "*" stands for any text.
bool Matches(const std::string& text, const std::string& pattern) {
  const std::size_t star = pattern.find('*');
  if (star == std::string::npos) return text == pattern;
  if (text.compare(0, star, pattern, 0, star) != 0) return false;
  for (std::size_t at = star; at <= text.size(); ++at) {
    if (Matches(text.substr(at), pattern.substr(star + 1))) return true;
  }
  return false;
}

struct StepCase {
  const char* name;
  const char* step;  // INSTALL or ERU (the structure update), VERSION, DATA (the default data)
  const char* shell_sql;
  const char* target_sql;
  // The failure's details, one "what: value" a line, as a pattern of
  // Matches; nullptr: the step succeeds.
  const char* details;
  // The target after the step: "versions / Tests' fields and types / rows".
  const char* state;
};

void PrintTo(const StepCase& c, std::ostream* os) {
  *os << c.name;
}

class StepCaseTest : public StepTest, public ::testing::WithParamInterface<StepCase> {
 protected:
  bool RunStep(const std::string& step) {
    if (step == "VERSION") return UpdateVersion(target(), shell(), &failure_);
    if (step == "DATA") return UpdateDefaultData(target(), shell(), &failure_);
    return UpdateStructure(target(), shell(), step, &failure_);
  }
  std::string State() {
    std::string state;
    for (const auto& row :
         target().Query("SELECT Version_Number FROM SoftwareVersion ORDER BY Version_ID").rows) {
      state += (state.empty() ? "" : ",") + row[0].ToText();
    }
    state += " /";
    bool names = false;
    for (const auto& field : platform::engine::TableFields(target(), "Tests")) {
      state += " " + field.name.substr(6) + " " + field.declared_type + ",";
      names = names || field.name == "Tests_Name";
    }
    state.back() = ' ';
    return state + "/ " +
           ReadScalar(target(), names ? "SELECT group_concat(Tests_ID || '=' || Tests_Name) FROM "
                                        "(SELECT * FROM Tests ORDER BY Tests_ID)"
                                      : "SELECT count(*) FROM Tests")
               .ToText();
  }
};

// A failing step keeps what it did before the row or statement at fault.
TEST_P(StepCaseTest, EndsWithItsDetailsAndTarget) {
  const StepCase& c = GetParam();
  Build(c.shell_sql, {}, c.target_sql);
  EXPECT_EQ(RunStep(c.step), c.details == nullptr);
  std::string details;
  for (const auto& [what, value] : failure_.details) details += what + ": " + value + "\n";
  EXPECT_TRUE(Matches(details, c.details ? c.details : "")) << details;
  EXPECT_EQ(State(), c.state);
}

constexpr const char* kSame = "1.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL";
#define STRUCTURE_ROWS \
  "INSERT INTO StructureInfo (\"Table\", Name, DataType, Size, Required) VALUES "
#define VERSION_ROWS "INSERT INTO VersionInfo VALUES "
#define VERSION_FAILS "step: version update\nversion: *"

// clang-format off
const StepCase kStepCases[] = {
    // ---- UpdateStructure
    {"NoStructureRowsAlthoughNothingNeededDoing", "INSTALL", "", "",
     "step: structure update\ncause: StructureInfo has no rows\n", kSame},
    {"FieldPresentUnderItsNameIsLeftAsItIs", "INSTALL",
     STRUCTURE_ROWS "('Tests', 'Tests_Name', 'LONG', '4', -1);", "", nullptr, kSame},
    {"RowWithoutSizeTakesTheSizeOfTheLastRowThatHadOne", "INSTALL", STRUCTURE_ROWS
     "('Tests', 'Tests_First', 'TEXT', NULL, NULL), ('Tests', 'Tests_Sized', 'TEXT', '20', NULL),"
     "('Tests', 'Tests_Carried', 'TEXT', NULL, NULL), ('Tests', 'Tests_Number', 'LONG', NULL, NULL),"
     "('Tests', 'Tests_Fixed', 'CHAR', NULL, NULL), ('Tests', 'Tests_Resized', 'CHAR', '3', NULL),"
     "('Tests', 'Tests_Last', 'TEXT', NULL, NULL);", "", nullptr,
     "1.0.0 / ID SHORT, Name TEXT(10), First TEXT(255), Sized TEXT(20), Carried TEXT(20), "
     "Number LONG, Fixed CHAR(20), Resized CHAR(3), Last TEXT(3) / 1=GLU,2=CHOL"},
    // Exact names only: version_number stays.
    {"EruDeletesListedFieldsWithTheirDataOnly", "ERU", STRUCTURE_ROWS
     "('Tests', 'Tests_Name', NULL, NULL, NULL), ('Tests', 'Tests_Absent', 'MEMO', NULL, NULL),"
     "('SoftwareVersion', 'version_number', 'TEXT', NULL, NULL);", "", nullptr, "1.0.0 / ID SHORT / 2"},
    // The creation is attempted; the engine's names ignore case, so it fails.
    {"FieldPresentInOtherLetterCase", "INSTALL",
     STRUCTURE_ROWS "('Tests', 'TESTS_NAME', 'TEXT', NULL, NULL);", "",
     "step: structure update\nrow: 1: table \"Tests\", name \"TESTS_NAME\", type \"TEXT\"\n"
     "engine: 3007 *", kSame},
    {"MemoFailsAtItsRow", "INSTALL", STRUCTURE_ROWS "('Tests', 'Tests_A', 'TEXT', NULL, NULL), "
     "('Tests', 'Tests_B', 'MEMO', NULL, NULL), ('Tests', 'Tests_C', 'TEXT', NULL, NULL);", "",
     "step: structure update\nrow: 2: table \"Tests\", name \"Tests_B\", type \"MEMO\"\n"
     "cause: the type word is none of the known words\n",
     "1.0.0 / ID SHORT, Name TEXT(10), A TEXT(255) / 1=GLU,2=CHOL"},
    {"TruthValueThatDoesNotConvert", "INSTALL",
     STRUCTURE_ROWS "('Tests', 'Tests_A', 'TEXT', NULL, 'maybe');", "",
     "step: structure update\nrow: 1: *\nengine: 13 Type mismatch*", kSame},
    {"MissingTableInstall", "INSTALL", STRUCTURE_ROWS "('Nowhere', 'X', 'TEXT', NULL, NULL);", "",
     "step: structure update\nrow: 1: table \"Nowhere\", name \"X\", type \"TEXT\"\nengine: 3002 *",
     kSame},
    {"MissingTableEru", "ERU", STRUCTURE_ROWS "('Nowhere', 'X', 'TEXT', NULL, NULL);", "",
     "step: structure update\nrow: 1: table \"Nowhere\", name \"X\", type \"TEXT\"\nengine: 3002 *",
     kSame},
    // ---- UpdateVersion
    {"VersionOfTheFirstTargetRowOnly", "VERSION",
     VERSION_ROWS "('SoftwareVersion', 'Version_Number', '2.0.0');",
     "INSERT INTO SoftwareVersion (Version_Number) VALUES ('1.0.1');", nullptr,
     "2.0.0,1.0.1 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionOfTheFirstVersionInfoRowOnly", "VERSION", VERSION_ROWS
     "('SoftwareVersion', 'Version_Number', '2.0.0'), ('Tests', 'Tests_Name', 'XXX');", "", nullptr,
     "2.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionNamesResolveAsSqlResolvesThem", "VERSION",
     VERSION_ROWS "(' softwareversion', 'VERSION_NUMBER ', '2.0.0');", "", nullptr,
     "2.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionOfAnEmptyTargetTable", "VERSION",
     VERSION_ROWS "('SoftwareVersion', 'Version_Number', '2.0.0');", "DELETE FROM SoftwareVersion;",
     VERSION_FAILS "\ncause: the table SoftwareVersion has no rows\n",
     " / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionTheFieldRefuses", "VERSION", VERSION_ROWS
     "('SoftwareVersion', 'Version_Number', '2.0.0-a-version-text-longer-than-twenty');", "",
     VERSION_FAILS "\nengine: 3001 *", kSame},
    // The names come from the shell's data: nothing in them may act as SQL.
    {"HostileVersionTableStatement", "VERSION",
     VERSION_ROWS "('SoftwareVersion; DROP TABLE Tests', 'Version_Number', '2.0.0');", "",
     VERSION_FAILS, kSame},
    {"HostileVersionFieldComment", "VERSION",
     VERSION_ROWS "('SoftwareVersion', 'Version_Number FROM Tests --', '2.0.0');", "",
     VERSION_FAILS, kSame},
    {"HostileVersionTableWhere", "VERSION",
     VERSION_ROWS "('Tests WHERE 0 = 1', 'Tests_Name', '2.0.0');", "", VERSION_FAILS, kSame},
    {"HostileVersionMissingField", "VERSION",
     VERSION_ROWS "('SoftwareVersion', 'Nowhere', '2.0.0');", "", VERSION_FAILS, kSame},
    {"HostileVersionMissingTable", "VERSION",
     VERSION_ROWS "('Nowhere', 'Version_Number', '2.0.0');", "", VERSION_FAILS, kSame},
    // ---- UpdateDefaultData
    {"NoDefaultDataRowAlthoughNothingNeededDoing", "DATA", "", "",
     "step: default data\ncause: DefaultData has no rows\n", kSame},
    {"DefaultDataTrimmedAndKeyViolationsSkipped", "DATA", R"sql(INSERT INTO DefaultData VALUES
      ('   INSERT INTO Tests (Tests_ID, Tests_Name)
         VALUES (3, ''ALT'')   '),
      ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, ''DUP'')'),
      ('UPDATE Tests SET Tests_Name = UCASE(''chol'') || ''!'' WHERE Tests_ID = 2');)sql", "",
     nullptr, "1.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL!,3=ALT"},
    {"FailingDefaultDataStopsBeforeTheNextStatement", "DATA", R"sql(INSERT INTO DefaultData VALUES
      ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (3, ''ALT'')'),
      ('INSERT INTO Nowhere (X) VALUES (1)'),
      ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (4, ''LAST'')');)sql", "",
     "step: default data\nstatement: 2: \"INSERT INTO Nowhere (X) VALUES (1)\"\nengine: *",
     "1.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL,3=ALT"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Steps, StepCaseTest, ::testing::ValuesIn(kStepCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every property of the row is given to the field; all null: the engine's
// defaults. Existing rows hold null in the new fields.
TEST_F(StepTest, InstallAddsFieldsWithTypeSizeAndProperties) {
  Build(R"sql(
    INSERT INTO StructureInfo VALUES
      ('Tests', 'Tests_Note', 'TEXT', '40', 'none', -1, 0, '<> ''x''', 'no x please'),
      ('Tests', 'Tests_Reflex', ' boolean ', NULL, NULL, NULL, NULL, NULL, NULL);
  )sql");
  ASSERT_TRUE(UpdateStructure(target(), shell(), "install", &failure_));
  std::string fields;
  for (const auto& f : platform::engine::TableFields(target(), "Tests")) {
    const auto& p = f.properties;
    fields += f.name + " " + f.declared_type + " " + p.default_value.Describe() +
              (p.required ? " required" : "") + (p.allow_zero_length ? " zero" : "") +
              (p.validation_rule.empty() ? "" : " rule") + " " + p.validation_text + "\n";
  }
  EXPECT_EQ(fields,
            "Tests_ID SHORT Empty zero \nTests_Name TEXT(10) Empty zero \n"
            "Tests_Note TEXT(40) \"none\" required rule no x please\n"
            "Tests_Reflex YESNO Empty zero \n");
  EXPECT_TRUE(ReadScalar(target(), "SELECT Tests_Note FROM Tests WHERE Tests_ID = 1").IsNull());
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

// A SELECT over what the target lacks is stored as its text (it gets its
// view once its fields exist); an action query the target cannot run stops
// the step.
TEST_F(CreateQueriesTest, ActionQueryTheTargetCannotRunStopsTheStepAfterEarlierOnes) {
  Build("CREATE TABLE ShellOnly (X LONG);",
        {{"QTests", "SELECT Tests_Name FROM Tests"},
         {"QShellOnly", "SELECT X FROM ShellOnly"},
         {"QClear", "UPDATE ShellOnly SET X = 0"},
         {"QLater", "SELECT 2"}},
        "", kTargetQueries);
  EXPECT_FALSE(CreateQueries(target(), shell(), &failure_));
  EXPECT_EQ(TargetQueries(), (std::map<std::string, std::string>{
                                 {"QOwn", "SELECT Version_Number FROM SoftwareVersion"},
                                 {"QShellOnly", "SELECT X FROM ShellOnly"},
                                 {"QTests", "SELECT Tests_Name FROM Tests"}}));
  EXPECT_EQ(Detail("query"), "QClear");
  EXPECT_EQ(Detail("sql"), "UPDATE ShellOnly SET X = 0");
}

}  // namespace
}  // namespace reshaper
