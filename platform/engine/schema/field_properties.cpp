#include "platform/engine/schema/field_properties.h"

#include "platform/core/text.h"

namespace platform::engine::internal {

namespace {

constexpr const char* kCreate =
    "CREATE TABLE IF NOT EXISTS SysFieldProperties (TableName TEXT(255) NOT NULL, "
    "FieldName TEXT(255) NOT NULL, DefaultValue MEMO, Required YESNO NOT NULL, "
    "AllowZeroLength YESNO NOT NULL, ValidationRule MEMO, ValidationText MEMO)";

bool HasTable(Database& db) {
  return !db.Query(
                "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND "
                "name = 'SysFieldProperties'")
              .empty();
}

Value Flag(bool b) {
  return Value(static_cast<std::int32_t>(b ? -1 : 0));
}

}  // namespace

void SaveFieldProperties(Database& db, std::string_view table, std::string_view field,
                         const FieldProperties& p) {
  db.Exec(kCreate);
  RemoveFieldProperties(db, table, field);
  db.InsertRow(
      "SysFieldProperties",
      {{"TableName", Value(std::string(table))},
       {"FieldName", Value(std::string(field))},
       {"DefaultValue", p.default_value},
       {"Required", Flag(p.required)},
       {"AllowZeroLength", Flag(p.allow_zero_length)},
       {"ValidationRule", p.validation_rule.empty() ? Value::Null() : Value(p.validation_rule)},
       {"ValidationText", p.validation_text.empty() ? Value::Null() : Value(p.validation_text)}});
}

std::map<std::string, FieldProperties> LoadFieldProperties(Database& db, std::string_view table) {
  std::map<std::string, FieldProperties> properties;
  if (!HasTable(db)) return properties;
  const Rows rows = db.Query(
      "SELECT FieldName, DefaultValue, Required, AllowZeroLength, ValidationRule, "
      "ValidationText, TableName FROM SysFieldProperties ORDER BY rowid");
  const std::string wanted = UpperCase(table);
  for (const auto& row : rows.rows) {
    if (UpperCase(row[6].ToText()) != wanted) continue;
    FieldProperties p;
    p.default_value = row[1].IsNull() ? Value() : row[1];
    p.required = row[2].ToBoolean();
    p.allow_zero_length = row[3].ToBoolean();
    p.validation_rule = row[4].IsNull() ? "" : row[4].ToText();
    p.validation_text = row[5].IsNull() ? "" : row[5].ToText();
    properties[UpperCase(row[0].ToText())] = p;
  }
  return properties;
}

void RemoveFieldProperties(Database& db, std::string_view table, std::string_view field) {
  if (!HasTable(db)) return;
  const std::string t = UpperCase(table), f = UpperCase(field);
  const Rows rows = db.Query("SELECT rowid, TableName, FieldName FROM SysFieldProperties");
  for (const auto& row : rows.rows) {
    if (UpperCase(row[1].ToText()) == t && UpperCase(row[2].ToText()) == f) {
      db.DeleteRow("SysFieldProperties", static_cast<RowId>(row[0].ToDouble()));
    }
  }
}

}  // namespace platform::engine::internal
