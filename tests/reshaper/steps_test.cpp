// The upgrade steps and the compaction on a target and a shell opened as the driver holds them:
// the positions, conversions and boundaries behind a step's result, which the program's rows
// cannot show.
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "reshaper/mod_procedures.h"
#include "tests/reshaper/shells.h"
#include "tests/support/databases.h"
#include "tests/support/sandbox.h"

namespace reshaper {
namespace {

using namespace testing_support;
using platform::Value;

// The type words as compared (trimmed blanks, any letter case), and the pair whose fields the
// engine declares alike; the others are pinned by the fields that EveryTypeWord adds. "Error"
// for anything else.
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

constexpr const char* kSame = "1.0.0 / ID SHORT, Name TEXT(10) / 1=GLU,2=CHOL";
#define FIELDS "INSERT INTO StructureInfo (\"Table\", Name, DataType, Size) VALUES "
#define VERSION "INSERT INTO VersionInfo VALUES "
#define VERSION_FAILS "step: version update\nversion: *"
#define STRUCTURE_FAILS "step: structure update\nrow: 1: "

// clang-format off
const struct {
  const char *name, *step;  // INSTALL or ERU (the structure update), VERSION, DATA
  const char *shell_sql, *target_sql;
  const char* details;  // the failure's, "what: value" a line, as fnmatch (nullptr: it succeeds)
  const char* state;  // "versions / Tests' fields, types, other properties / rows [fields set]"
} kStepCases[] = {
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
    // Every property of the row is given to the field; all null: the engine's defaults.
    {"InstallAddsFieldsWithTheirProperties", "install", "INSERT INTO StructureInfo VALUES ('Tests', "
     "'Tests_Note', 'TEXT', '40', 'none', -1, 0, '<> ''x''', 'no x please'), ('Tests', "
     "'Tests_Reflex', ' boolean ', NULL, NULL, NULL, NULL, NULL, NULL);", "", nullptr, "1.0.0 / ID "
     "SHORT, Name TEXT(10), Note TEXT(40) \"none\" required nonzero rule no x please, Reflex YESNO "
     "/ 1=GLU,2=CHOL"},
};
// clang-format on

// A target and a shell (which holds the target's tables too, as a release's shell does), both
// open as the driver holds them. A failing step keeps what it did before the row or statement at
// fault; existing rows hold null in the fields a step adds.
TEST(Steps, EndWithTheirDetailsAndTarget) {
  for (const auto& c : kStepCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    reshaper_test::MakeDatabase(dir.Sub("target.mdb"),
                                std::string(reshaper_test::kTargetTables) + c.target_sql);
    reshaper_test::MakeShell(dir.Sub("shell.mdb"), c.shell_sql);
    Database target = Database::Open(dir.Sub("target.mdb")),
             shell = Database::Open(dir.Sub("shell.mdb"));
    StepFailure failure;
    const std::string step = c.step;
    const bool done = step == "VERSION" ? UpdateVersion(target, shell, &failure)
                      : step == "DATA"  ? UpdateDefaultData(target, shell, &failure)
                                        : UpdateStructure(target, shell, step, &failure);
    EXPECT_EQ(done, c.details == nullptr);
    std::string details, set;
    for (const auto& [what, value] : failure.details) details += what + ": " + value + "\n";
    EXPECT_EQ(::fnmatch(c.details ? c.details : "", details.c_str(), 0), 0) << details;
    std::string state =
        DumpRows(target, "SELECT group_concat(Version_Number) FROM SoftwareVersion");
    state.back() = ' ';
    bool names = false;
    for (const auto& field : platform::engine::TableFields(target, "Tests")) {
      const auto& p = field.properties;
      state += (names || field.name != "Tests_ID" ? ", " : "/ ") + field.name.substr(6) + " " +
               field.declared_type +
               (p.default_value.Describe() == "Empty" ? "" : " " + p.default_value.Describe()) +
               (p.required ? " required" : "") + (p.allow_zero_length ? "" : " nonzero") +
               (p.validation_rule.empty() ? "" : " rule") +
               (p.validation_text.empty() ? "" : " " + p.validation_text);
      const std::string filled =
          "SELECT count(*) FROM Tests WHERE \"" + field.name + "\" IS NOT NULL";
      if (names && QueryCount(target, filled) > 0) set += " " + field.name + " set";
      names = names || field.name == "Tests_Name";
    }
    state += " / " + QueryValue(target, names ? "SELECT group_concat(Tests_ID || '=' || "
                                                "Tests_Name) FROM (SELECT * FROM Tests ORDER BY 1)"
                                              : "SELECT count(*) FROM Tests")
                         .ToText();
    EXPECT_EQ(state + set, c.state);
  }
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
