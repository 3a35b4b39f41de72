// UpdateStructure and MapFieldType.
#include <array>
#include <string_view>
#include <utility>

#include "platform/core/text.h"
#include "platform/engine/schema.h"
#include "reshaper/mod_procedures.h"

namespace reshaper {

namespace {

namespace ft = platform::engine::field_type;
using platform::Value;
using platform::engine::Rows;

// In the order the words are compared; the first equal word gives the code.
constexpr std::array<std::pair<std::string_view, int>, 15> kTypeWords{{
    {"TEXT", ft::kText},
    {"DOUBLE", ft::kDouble},
    {"BINARY", ft::kBinary},
    {"BOOLEAN", ft::kBoolean},
    {"BYTE", ft::kByte},
    {"INTEGER", ft::kInteger},
    {"FLOAT", ft::kFloat},
    {"CHAR", ft::kChar},
    {"CURRENCY", ft::kCurrency},
    {"DATE", ft::kDate},
    {"DECIMAL", ft::kDecimal},
    {"LONG", ft::kLong},
    {"NUMERIC", ft::kNumeric},
    {"SINGLE", ft::kSingle},
    {"TIME", ft::kTime},
}};

bool HasFieldNamedExactly(Database& target, const std::string& table, const std::string& name) {
  for (const auto& field : platform::engine::TableFields(target, table)) {
    if (field.name == name) return true;
  }
  return false;
}

// The field that a StructureInfo row describes. `sSize` is the size text
// carried from row to row: a row without a size passes the most recent one.
platform::engine::NewField FieldOfRow(const Rows& rows, std::size_t row, const std::string& name,
                                      std::string& sSize) {
  const Value vCode = MapFieldType(rows.Field(row, "DataType"));
  if (platform::UpperTrim(vCode.ToText()) == "ERROR") {
    StopStep("the type word is none of the known words");
  }
  CarrySizeText(rows.Field(row, "Size"), sSize);

  platform::engine::NewField field;
  field.name = name;
  field.type_code = vCode.ToInteger();
  field.size_text = sSize;
  if (const Value& v = rows.Field(row, "DefaultData"); GivesDefault(v)) field.default_value = v;
  if (const Value& v = rows.Field(row, "Required"); !v.IsNull()) field.required = v.ToBoolean();
  if (const Value& v = rows.Field(row, "AllowZeroLength"); !v.IsNull()) {
    field.allow_zero_length = v.ToBoolean();
  }
  if (const Value& v = rows.Field(row, "ValidationRule"); !v.IsNull()) {
    field.validation_rule = v.ToText();
  }
  if (const Value& v = rows.Field(row, "ValidationText"); !v.IsNull()) {
    field.validation_text = v.ToText();
  }
  return field;
}

void DeleteFieldsNamed(Database& target, const std::string& table, const std::string& name) {
  for (const auto& field : platform::engine::TableFields(target, table)) {
    if (field.name == name) platform::engine::DeleteField(target, table, field.name);
  }
}

std::string DescribeRow(const Rows& rows, std::size_t row) {
  return "table " + rows.Field(row, "Table").Describe() + ", name " +
         rows.Field(row, "Name").Describe() + ", type " + rows.Field(row, "DataType").Describe();
}

}  // namespace

Value MapFieldType(const Value& vType) {
  try {
    const std::string word = platform::UpperTrim(vType.ToText());
    for (const auto& [type_word, code] : kTypeWords) {
      if (word == type_word) return Value(static_cast<std::int16_t>(code));
    }
  } catch (const platform::Error&) {
    // A value without a text form (null) maps to the marker like an unknown word.
  }
  return Value("Error");
}

const std::string& CarrySizeText(const Value& vSize, std::string& sSize) {
  if (!vSize.IsNull()) sSize = vSize.ToText();
  return sSize;
}

bool GivesDefault(const Value& vDefault) {
  return !vDefault.IsNull() && !platform::TrimSpaces(vDefault.ToText()).empty();
}

bool UpdateStructure(Database& target, Database& shell, const std::string& sMode,
                     StepFailure* failure) {
  return TrapStepFailure("structure update", failure, [&](StepPosition& position) {
    const Rows rows = shell.Query("SELECT * FROM StructureInfo");
    if (rows.empty()) StopStep("StructureInfo has no rows");
    const bool install = platform::UpperTrim(sMode) == "INSTALL";
    std::string sSize;
    for (std::size_t row = 0; row < rows.rows.size(); ++row) {
      position = {{"row", std::to_string(row + 1) + ": " + DescribeRow(rows, row)}};
      const std::string table =
          platform::engine::FindTable(target, rows.Field(row, "Table").ToText());
      const std::string name = rows.Field(row, "Name").ToText();
      if (!install) {
        DeleteFieldsNamed(target, table, name);
      } else if (!HasFieldNamedExactly(target, table, name)) {
        platform::engine::AppendField(target, table, FieldOfRow(rows, row, name, sSize));
      }
    }
    // A saved query over a field that the step added gets its view now.
    position.clear();
    platform::engine::MakeMissingViews(target);
  });
}

}  // namespace reshaper
