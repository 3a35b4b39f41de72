// The upgrade steps and the compaction on a target and a shell opened as the
// driver holds them: the positions, conversions and boundaries behind a
// step's result. What the driver makes of it (box, log, exit status) is in
// the program's rows.
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "reshaper/mod_procedures.h"
#include "tests/reshaper/shells.h"
#include "tests/support/databases.h"
#include "tests/support/sandbox.h"

namespace reshaper {
namespace {

using namespace testing_support;
using platform::Value;
using platform::engine::SavedQuery;

// The type words as compared (trimmed blanks, any letter case), and the
// pair whose fields the engine declares alike; the others are pinned by the
// fields that EveryTypeWord adds. "Error" for anything else.
TEST(MapFieldType, MapsTrimmedWordsOnly) {
  const std::pair<Value, int> cases[] = {
      {" double ", 7},   {"Long", 4}, {"NUMERIC", 19},
      {"DECIMAL", 20},   {"MEMO", 0}, {"TEXT2", 0},
      {"\tTEXT", 0},     {"", 0},     {Value(std::int32_t{10}), 0},
      {Value::Null(), 0}};
  for (const auto& [word, code] : cases) {
    const Value expected = code ? Value(static_cast<std::int16_t>(code)) : Value("Error");
    EXPECT_TRUE(MapFieldType(word).SameAs(expected)) << word.Describe();
  }
}

// A target and a shell (which holds the target's tables too, as a release's
// shell does) in a temporary folder, both open as the driver holds them.
class StepTest : public ::testing::Test {
 protected:
  void Build(const std::string& shell_sql, const std::vector<SavedQuery>& shell_queries = {},
             const std::string& target_sql = "", const std::vector<SavedQuery>& queries = {}) {
    reshaper_test::MakeDatabase(dir_.Sub("target.mdb"), reshaper_test::kTargetTables + target_sql,
                                queries);
    reshaper_test::MakeShell(dir_.Sub("shell.mdb"), shell_sql, shell_queries);
    target_.emplace(Database::Open(dir_.Sub("target.mdb")));
    shell_.emplace(Database::Open(dir_.Sub("shell.mdb")));
  }
  // The failure's details, "what: value" a line, match `pattern` ("*": any text).
  void ExpectDetails(const std::string& pattern) const {
    std::string details;
    for (const auto& [what, value] : failure_.details) details += what + ": " + value + "\n";
    EXPECT_EQ(::fnmatch(pattern.c_str(), details.c_str(), 0), 0) << details;
  }
  std::string Queries() {
    std::string queries;
    for (const auto& q : platform::engine::SavedQueries(*target_))
      queries += q.name + "=" + q.sql + "\n";
    return queries;
  }

  TempDir dir_;
  std::optional<Database> target_, shell_;
  StepFailure failure_;
};

struct StepCase {
  const char *name, *step;  // INSTALL or ERU (the structure update), VERSION, DATA
  const char *shell_sql, *target_sql;
  const char* details;  // the failure's, as ExpectDetails; nullptr: the step succeeds
  const char* state;    // the target after the step: "versions / Tests' fields and types / rows"
};
void PrintTo(const StepCase& c, std::ostream* os) {
  *os << c.name;
}

class StepCaseTest : public StepTest, public ::testing::WithParamInterface<StepCase> {};

// A failing step keeps what it did before the row or statement at fault.
TEST_P(StepCaseTest, EndsWithItsDetailsAndTarget) {
  const StepCase& c = GetParam();
  Build(c.shell_sql, {}, c.target_sql);
  const std::string step = c.step;
  const bool done = step == "VERSION" ? UpdateVersion(*target_, *shell_, &failure_)
                    : step == "DATA"  ? UpdateDefaultData(*target_, *shell_, &failure_)
                                      : UpdateStructure(*target_, *shell_, step, &failure_);
  EXPECT_EQ(done, c.details == nullptr);
  ExpectDetails(c.details ? c.details : "");
  std::string state =
      DumpRows(*target_, "SELECT group_concat(Version_Number) FROM SoftwareVersion");
  state.back() = ' ';
  bool names = false;
  for (const auto& field : platform::engine::TableFields(*target_, "Tests")) {
    state += (names || field.name != "Tests_ID" ? ", " : "/ ") + field.name.substr(6) + " " +
             field.declared_type;
    names = names || field.name == "Tests_Name";
  }
  state +=
      " / " + QueryValue(*target_, names ? "SELECT group_concat(Tests_ID || '=' || Tests_Name) "
                                           "FROM (SELECT * FROM Tests ORDER BY Tests_ID)"
                                         : "SELECT count(*) FROM Tests")
                  .ToText();
  EXPECT_EQ(state, c.state);
}

constexpr const char* kSame = "1.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL";
#define FIELDS "INSERT INTO StructureInfo (\"Table\", Name, DataType, Size) VALUES "
#define VERSION "INSERT INTO VersionInfo VALUES "
#define VERSION_FAILS "step: version update\nversion: *"
#define STRUCTURE_FAILS "step: structure update\nrow: 1: "

// clang-format off
const StepCase kStepCases[] = {
    // ---- UpdateStructure
    {"NoStructureRowsAlthoughNothingNeededDoing", "INSTALL", "", "",
     "step: structure update\ncause: StructureInfo has no rows\n", kSame},
    {"FieldPresentUnderItsNameIsLeftAsItIs", "INSTALL", "INSERT INTO StructureInfo (\"Table\", "
     "Name, DataType, Size, Required) VALUES ('Tests', 'Tests_Name', 'LONG', '4', -1);", "",
     nullptr, kSame},
    {"EveryTypeWord", "INSTALL", FIELDS "('Tests', 'Tests_A', 'TEXT', NULL),"
     "('Tests', 'Tests_B', 'DOUBLE', NULL), ('Tests', 'Tests_C', 'binary', '8'),"
     "('Tests', 'Tests_D', 'BOOLEAN', NULL), ('Tests', 'Tests_E', 'BYTE', NULL),"
     "('Tests', 'Tests_F', 'INTEGER', NULL), ('Tests', 'Tests_G', 'FLOAT', NULL),"
     "('Tests', 'Tests_H', 'CHAR', NULL), ('Tests', 'Tests_I', 'CURRENCY', NULL),"
     "('Tests', 'Tests_J', 'DATE', NULL), ('Tests', 'Tests_K', 'DECIMAL', NULL),"
     "('Tests', 'Tests_L', ' Long', NULL), ('Tests', 'Tests_M', 'NUMERIC', NULL),"
     "('Tests', 'Tests_N', 'SINGLE', NULL), ('Tests', 'Tests_O', 'TIME ', NULL);", "",
     nullptr, "1.0.0 / ID SHORT, Name TEXT(10), A TEXT(255), B DOUBLE, C BINARY(8), D YESNO, "
     "E BYTE, F SHORT, G FLOAT, H CHAR(8), I CURRENCY, J DATETIME, K DECIMAL(18,0), L LONG, "
     "M DECIMAL(18,0), N SINGLE, O TIME / 1=GLU,2=CHOL"},
    {"RowWithoutSizeTakesTheSizeOfTheLastRowThatHadOne", "INSTALL", FIELDS
     "('Tests', 'Tests_First', 'TEXT', NULL), ('Tests', 'Tests_Sized', 'TEXT', '20'),"
     "('Tests', 'Tests_Carried', 'TEXT', NULL), ('Tests', 'Tests_Number', 'LONG', NULL),"
     "('Tests', 'Tests_Fixed', 'CHAR', NULL), ('Tests', 'Tests_Resized', 'CHAR', '3'),"
     "('Tests', 'Tests_Last', 'TEXT', NULL);", "", nullptr,
     "1.0.0 / ID SHORT, Name TEXT(10), First TEXT(255), Sized TEXT(20), Carried TEXT(20), "
     "Number LONG, Fixed CHAR(20), Resized CHAR(3), Last TEXT(3) / 1=GLU,2=CHOL"},
    // Exact names only: version_number stays.
    {"EruDeletesListedFieldsWithTheirDataOnly", "ERU", FIELDS "('Tests', 'Tests_Name', NULL, "
     "NULL), ('Tests', 'Tests_Absent', 'MEMO', NULL), ('SoftwareVersion', 'version_number', "
     "'TEXT', NULL);", "", nullptr, "1.0.0 / ID SHORT / 2"},
    // The creation is attempted; the engine's names ignore case, so it fails.
    {"FieldPresentInOtherLetterCase", "INSTALL", FIELDS "('Tests', 'TESTS_NAME', 'TEXT', NULL);",
     "", STRUCTURE_FAILS "table \"Tests\", name \"TESTS_NAME\", type \"TEXT\"\nengine: 3007 *",
     kSame},
    {"TruthValueThatDoesNotConvert", "INSTALL", "INSERT INTO StructureInfo (\"Table\", Name, "
     "DataType, Required) VALUES ('Tests', 'Tests_A', 'TEXT', 'maybe');", "",
     STRUCTURE_FAILS "*\nengine: 13 Type mismatch*", kSame},
    {"MissingTableInstall", "INSTALL", FIELDS "('Nowhere', 'X', 'TEXT', NULL);", "",
     STRUCTURE_FAILS "table \"Nowhere\", name \"X\", type \"TEXT\"\nengine: 3002 *", kSame},
    // ---- UpdateVersion
    {"VersionOfTheFirstTargetRowOnly", "VERSION", VERSION "('SoftwareVersion', 'Version_Number', "
     "'2.0.0');", "INSERT INTO SoftwareVersion (Version_Number) VALUES ('1.0.1');", nullptr,
     "2.0.0,1.0.1 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionOfTheFirstVersionInfoRowOnly", "VERSION", VERSION "('SoftwareVersion', "
     "'Version_Number', '2.0.0'), ('Tests', 'Tests_Name', 'XXX');", "", nullptr,
     "2.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionNamesResolveAsSqlResolvesThem", "VERSION", VERSION "(' softwareversion', "
     "'VERSION_NUMBER ', '2.0.0');", "", nullptr, "2.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionOfAnEmptyTargetTable", "VERSION", VERSION "('SoftwareVersion', 'Version_Number', "
     "'2.0.0');", "DELETE FROM SoftwareVersion;", VERSION_FAILS "\ncause: the table "
     "SoftwareVersion has no rows\n", "NULL / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL"},
    {"VersionTheFieldRefuses", "VERSION", VERSION "('SoftwareVersion', 'Version_Number', "
     "'2.0.0-a-version-text-longer-than-twenty');", "", VERSION_FAILS "\nengine: 3001 *", kSame},
    // The names come from the shell's data: nothing in them may act as SQL.
    {"HostileVersionTableStatement", "VERSION", VERSION "('SoftwareVersion; DROP TABLE Tests', "
     "'Version_Number', '2.0.0');", "", VERSION_FAILS, kSame},
    {"HostileVersionFieldComment", "VERSION", VERSION "('SoftwareVersion', 'Version_Number FROM "
     "Tests --', '2.0.0');", "", VERSION_FAILS, kSame},
    // ---- UpdateDefaultData
    {"NoDefaultDataRowAlthoughNothingNeededDoing", "DATA", "", "",
     "step: default data\ncause: DefaultData has no rows\n", kSame},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Steps, StepCaseTest, ::testing::ValuesIn(kStepCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every property of the row is given to the field; all null: the engine's
// defaults. Existing rows hold null in the new fields.
TEST_F(StepTest, InstallAddsFieldsWithTypeSizeAndProperties) {
  Build(
      "INSERT INTO StructureInfo VALUES ('Tests', 'Tests_Note', 'TEXT', '40', 'none', -1, 0, "
      "'<> ''x''', 'no x please'), ('Tests', 'Tests_Reflex', ' boolean ', NULL, NULL, NULL, "
      "NULL, NULL, NULL);");
  ASSERT_TRUE(UpdateStructure(*target_, *shell_, "install", &failure_));
  std::string fields;
  for (const auto& f : platform::engine::TableFields(*target_, "Tests")) {
    const auto& p = f.properties;
    fields += f.name + " " + f.declared_type + " " + p.default_value.Describe() +
              (p.required ? " required" : "") + (p.allow_zero_length ? " zero" : "") +
              (p.validation_rule.empty() ? "" : " rule") + " " + p.validation_text + "\n";
  }
  EXPECT_EQ(fields,
            "Tests_ID SHORT Empty zero \nTests_Name TEXT(10) Empty zero \n"
            "Tests_Note TEXT(40) \"none\" required rule no x please\nTests_Reflex YESNO Empty "
            "zero \n");
  EXPECT_TRUE(QueryValue(*target_, "SELECT Tests_Note FROM Tests WHERE Tests_ID = 1").IsNull());
}

// A sqlite3 client reads the target in a transaction that it keeps open past
// the busy timeout: the compaction fails and the target stays as it was.
TEST(CompactTarget, AReaderHoldingTheTargetFailsTheStep) {
  Sandbox box;
  ::setenv("SYSTEM_DRIVE", box.drive().c_str(), 1);
  const std::string target = box.database(), ready = box.Sub("ready");
  reshaper_test::MakeDatabase(target, std::string(reshaper_test::kTargetTables) +
                                          "CREATE TABLE Spare (B BINARY); INSERT INTO Spare VALUES "
                                          "(zeroblob(200000)); DROP TABLE Spare;");
  const std::string before = ReadFile(target);
  FILE* reader = ::popen(("/usr/bin/sqlite3 -batch '" + target + "' > /dev/null").c_str(), "w");
  ASSERT_NE(reader, nullptr);
  std::fputs(
      ("BEGIN;\n.output " + ready + "\nSELECT count(*) FROM Tests;\n.output stdout\n").c_str(),
      reader);
  std::fflush(reader);
  while (ReadFile(ready).empty()) ::usleep(1000);
  StepFailure failure;
  const bool compacted = CompactTarget(&failure);
  std::fputs("COMMIT;\n", reader);
  ::pclose(reader);
  EXPECT_FALSE(compacted);
  EXPECT_EQ(failure.details.at(3).second, "5 database is locked");
  EXPECT_TRUE(ReadFile(target) == before) << "the target changed";
  EXPECT_FALSE(Exists(target + "-journal"));
  EXPECT_FALSE(Exists(box.databases() + "/Temp.mdb"));
}

}  // namespace
}  // namespace reshaper
