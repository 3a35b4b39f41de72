#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/engine/schema.h"
#include "reshaper/mod_procedures.h"
#include "tests/reshaper/step_test.h"

namespace reshaper {
namespace {

using platform::Value;
using reshaper_test::FieldNames;
using reshaper_test::ReadScalar;
using reshaper_test::StepTest;
using ::testing::ElementsAre;

struct TypeWordCase {
  Value word;
  Value expected;
};

class MapFieldTypeTest : public ::testing::TestWithParam<TypeWordCase> {};

TEST_P(MapFieldTypeTest, MapsTheWord) {
  const Value result = MapFieldType(GetParam().word);
  EXPECT_TRUE(result.SameAs(GetParam().expected))
      << GetParam().word.Describe() << " gave " << result.Describe();
}

Value Code(int code) {
  return Value(static_cast<std::int16_t>(code));
}

INSTANTIATE_TEST_SUITE_P(
    EveryWord, MapFieldTypeTest,
    ::testing::Values(TypeWordCase{"TEXT", Code(10)}, TypeWordCase{"DOUBLE", Code(7)},
                      TypeWordCase{"BINARY", Code(9)}, TypeWordCase{"BOOLEAN", Code(1)},
                      TypeWordCase{"BYTE", Code(2)}, TypeWordCase{"INTEGER", Code(3)},
                      TypeWordCase{"FLOAT", Code(21)}, TypeWordCase{"CHAR", Code(18)},
                      TypeWordCase{"CURRENCY", Code(5)}, TypeWordCase{"DATE", Code(8)},
                      TypeWordCase{"DECIMAL", Code(20)}, TypeWordCase{"LONG", Code(4)},
                      TypeWordCase{"NUMERIC", Code(19)}, TypeWordCase{"SINGLE", Code(6)},
                      TypeWordCase{"TIME", Code(22)}, TypeWordCase{" double ", Code(7)},
                      TypeWordCase{"Long", Code(4)}, TypeWordCase{"MEMO", "Error"},
                      TypeWordCase{"LONGBINARY", "Error"}, TypeWordCase{"TEXT2", "Error"},
                      TypeWordCase{"\tTEXT", "Error"}, TypeWordCase{"", "Error"},
                      TypeWordCase{Value(std::int32_t{10}), "Error"},
                      TypeWordCase{Value::Null(), "Error"}));

class UpdateStructureTest : public StepTest {
 protected:
  const platform::engine::FieldInfo& Field(const std::string& table, const std::string& name) {
    fields_ = platform::engine::TableFields(target(), table);
    for (const auto& field : fields_) {
      if (field.name == name) return field;
    }
    ADD_FAILURE() << "no field " << table << "." << name;
    return fields_.front();
  }

 private:
  std::vector<platform::engine::FieldInfo> fields_;
};

TEST_F(UpdateStructureTest, NoRowsFailsAlthoughNothingNeededDoing) {
  Build("");
  EXPECT_FALSE(UpdateStructure(target(), shell(), "INSTALL", &failure_));
  EXPECT_EQ(Detail("step"), "structure update");
  EXPECT_EQ(Detail("cause"), "StructureInfo has no rows");
}

TEST_F(UpdateStructureTest, InstallAddsFieldsWithTypeSizeAndProperties) {
  Build(R"sql(
    INSERT INTO StructureInfo VALUES
      ('Tests', 'Tests_Note', 'TEXT', '40', 'none', -1, 0, '<> ''x''', 'no x please'),
      ('Tests', 'Tests_Reflex', ' boolean ', NULL, NULL, NULL, NULL, NULL, NULL);
  )sql");
  ASSERT_TRUE(UpdateStructure(target(), shell(), "install", &failure_));
  EXPECT_THAT(FieldNames(target(), "Tests"),
              ElementsAre("Tests_ID", "Tests_Name", "Tests_Note", "Tests_Reflex"));

  const auto& note = Field("Tests", "Tests_Note");
  EXPECT_EQ(note.declared_type, "TEXT(40)");
  EXPECT_EQ(note.properties.default_value.ToText(), "none");
  EXPECT_TRUE(note.properties.required);
  EXPECT_FALSE(note.properties.allow_zero_length);
  EXPECT_EQ(note.properties.validation_text, "no x please");
  EXPECT_FALSE(note.properties.validation_rule.empty());

  // All properties null: the engine's defaults.
  const auto& reflex = Field("Tests", "Tests_Reflex");
  EXPECT_EQ(reflex.declared_type, "YESNO");
  EXPECT_TRUE(reflex.properties.default_value.IsEmpty());
  EXPECT_FALSE(reflex.properties.required);
  EXPECT_TRUE(reflex.properties.allow_zero_length);
  EXPECT_EQ(reflex.properties.validation_rule, "");
  EXPECT_EQ(reflex.properties.validation_text, "");
  // Existing rows hold null in the new fields.
  EXPECT_TRUE(ReadScalar(target(), "SELECT Tests_Note FROM Tests WHERE Tests_ID = 1").IsNull());
}

TEST_F(UpdateStructureTest, FieldPresentUnderItsNameIsLeftAsItIs) {
  Build(R"sql(
    INSERT INTO StructureInfo ("Table", Name, DataType, Size, Required)
      VALUES ('Tests', 'Tests_Name', 'LONG', '4', -1);
  )sql");
  ASSERT_TRUE(UpdateStructure(target(), shell(), "INSTALL", &failure_));
  EXPECT_EQ(Field("Tests", "Tests_Name").declared_type, "TEXT(10)");
  EXPECT_FALSE(Field("Tests", "Tests_Name").properties.required);
  EXPECT_EQ(ReadScalar(target(), "SELECT Tests_Name FROM Tests WHERE Tests_ID = 1").ToText(),
            "GLU");
}

TEST_F(UpdateStructureTest, FieldPresentInOtherLetterCaseIsTreatedAsAbsent) {
  // The creation is attempted; the engine's names ignore case, so it fails.
  Build(R"sql(
    INSERT INTO StructureInfo ("Table", Name, DataType) VALUES ('Tests', 'TESTS_NAME', 'TEXT');
  )sql");
  EXPECT_FALSE(UpdateStructure(target(), shell(), "INSTALL", &failure_));
  EXPECT_EQ(Detail("row"), R"(1: table "Tests", name "TESTS_NAME", type "TEXT")");
  EXPECT_NE(Detail("engine"), "");
  EXPECT_THAT(FieldNames(target(), "Tests"), ElementsAre("Tests_ID", "Tests_Name"));
}

TEST_F(UpdateStructureTest, MemoFailsAtItsRowAndEarlierRowsStay) {
  Build(R"sql(
    INSERT INTO StructureInfo ("Table", Name, DataType) VALUES
      ('Tests', 'Tests_A', 'TEXT'), ('Tests', 'Tests_B', 'MEMO'), ('Tests', 'Tests_C', 'TEXT');
  )sql");
  EXPECT_FALSE(UpdateStructure(target(), shell(), "INSTALL", &failure_));
  EXPECT_THAT(FieldNames(target(), "Tests"), ElementsAre("Tests_ID", "Tests_Name", "Tests_A"));
  EXPECT_EQ(Detail("row"), R"(2: table "Tests", name "Tests_B", type "MEMO")");
  EXPECT_EQ(Detail("cause"), "the type word is none of the known words");
}

TEST_F(UpdateStructureTest, RowWithoutSizeTakesTheSizeOfTheLastRowThatHadOne) {
  Build(R"sql(
    INSERT INTO StructureInfo ("Table", Name, DataType, Size) VALUES
      ('Tests', 'Tests_First', 'TEXT', NULL),
      ('Tests', 'Tests_Sized', 'TEXT', '20'),
      ('Tests', 'Tests_Carried', 'TEXT', NULL),
      ('Tests', 'Tests_Number', 'LONG', NULL),
      ('Tests', 'Tests_Fixed', 'CHAR', NULL),
      ('Tests', 'Tests_Resized', 'CHAR', '3'),
      ('Tests', 'Tests_Last', 'TEXT', NULL);
  )sql");
  ASSERT_TRUE(UpdateStructure(target(), shell(), "INSTALL", &failure_));
  EXPECT_EQ(Field("Tests", "Tests_First").declared_type, "TEXT(255)");
  EXPECT_EQ(Field("Tests", "Tests_Carried").declared_type, "TEXT(20)");
  EXPECT_EQ(Field("Tests", "Tests_Number").declared_type, "LONG");
  EXPECT_EQ(Field("Tests", "Tests_Fixed").declared_type, "CHAR(20)");
  EXPECT_EQ(Field("Tests", "Tests_Last").declared_type, "TEXT(3)");
}

TEST_F(UpdateStructureTest, TruthValueThatDoesNotConvertFailsTheRow) {
  Build(R"sql(
    INSERT INTO StructureInfo ("Table", Name, DataType, Required)
      VALUES ('Tests', 'Tests_A', 'TEXT', 'maybe');
  )sql");
  EXPECT_FALSE(UpdateStructure(target(), shell(), "INSTALL", &failure_));
  EXPECT_EQ(Detail("engine"), "13 Type mismatch");
  EXPECT_THAT(FieldNames(target(), "Tests"), ElementsAre("Tests_ID", "Tests_Name"));
}

class MissingTableTest : public UpdateStructureTest,
                         public ::testing::WithParamInterface<const char*> {};

TEST_P(MissingTableTest, FailsInEitherMode) {
  Build(R"sql(
    INSERT INTO StructureInfo ("Table", Name, DataType) VALUES ('Nowhere', 'X', 'TEXT');
  )sql");
  EXPECT_FALSE(UpdateStructure(target(), shell(), GetParam(), &failure_));
  EXPECT_EQ(Detail("row"), R"(1: table "Nowhere", name "X", type "TEXT")");
  EXPECT_EQ(Detail("engine").substr(0, 4), "3002");
}

INSTANTIATE_TEST_SUITE_P(Modes, MissingTableTest, ::testing::Values("INSTALL", "ERU"));

TEST_F(UpdateStructureTest, EruDeletesListedFieldsWithTheirDataOnly) {
  Build(R"sql(
    INSERT INTO StructureInfo ("Table", Name, DataType) VALUES
      ('Tests', 'Tests_Name', NULL),
      ('Tests', 'Tests_Absent', 'MEMO'),
      ('SoftwareVersion', 'version_number', 'TEXT');
  )sql");
  ASSERT_TRUE(UpdateStructure(target(), shell(), "ERU", &failure_));
  EXPECT_THAT(FieldNames(target(), "Tests"), ElementsAre("Tests_ID"));
  EXPECT_EQ(ReadScalar(target(), "SELECT count(*) FROM Tests").ToLong(), 2);
  EXPECT_THAT(FieldNames(target(), "SoftwareVersion"), ElementsAre("Version_ID", "Version_Number"));
}

}  // namespace
}  // namespace reshaper
