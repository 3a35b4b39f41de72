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
using platform::history::ChangeKind;

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

// A field's definition in the change history: its declared type and the
// properties that differ from the engine's defaults.
std::string DescribeField(const std::string& declared_type,
                          const platform::engine::FieldProperties& p) {
  std::string text = declared_type;
  if (!p.default_value.IsEmpty()) text += ", default " + p.default_value.Describe();
  if (p.required) text += ", required";
  if (!p.allow_zero_length) text += ", zero length refused";
  if (!p.validation_rule.empty())
    text += ", validation rule " + Value(p.validation_rule).Describe();
  if (!p.validation_text.empty())
    text += ", validation text " + Value(p.validation_text).Describe();
  return text;
}

// The definition that a StructureInfo row gives its new field. Throws what
// appending it would for its type and size, before anything changes.
std::string DescribeNewField(const platform::engine::NewField& field) {
  platform::engine::FieldProperties p;
  p.default_value = field.default_value.value_or(p.default_value);
  p.required = field.required.value_or(p.required);
  p.allow_zero_length = field.allow_zero_length.value_or(p.allow_zero_length);
  p.validation_rule = field.validation_rule.value_or(p.validation_rule);
  p.validation_text = field.validation_text.value_or(p.validation_text);
  return DescribeField(platform::engine::NewFieldDeclaredType(field), p);
}

void AddField(Database& target, const std::string& table, const platform::engine::NewField& field,
              const ChangeSeam& seam) {
  MakeThrough(seam,
              SchemaChange("STRUCTURE", ChangeKind::kFieldAdded, table + "." + field.name,
                           "definition", {}, DescribeNewField(field)),
              [&] { platform::engine::AppendField(target, table, field); });
}

void DeleteFieldsNamed(Database& target, const std::string& table, const std::string& name,
                       const ChangeSeam& seam) {
  for (const auto& field : platform::engine::TableFields(target, table)) {
    if (field.name != name) continue;
    MakeThrough(
        seam,
        SchemaChange("STRUCTURE", ChangeKind::kFieldRemoved, table + "." + field.name, "definition",
                     DescribeField(field.declared_type, field.properties), {}),
        [&] { platform::engine::DeleteField(target, table, field.name); });
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
                     StepFailure* failure, const ChangeSeam& seam) {
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
        DeleteFieldsNamed(target, table, name, seam);
      } else if (!HasFieldNamedExactly(target, table, name)) {
        AddField(target, table, FieldOfRow(rows, row, name, sSize), seam);
      }
    }
    // A saved query over a field that the step added gets its view now.
    position.clear();
    platform::engine::MakeMissingViews(target);
  });
}

}  // namespace reshaper
