// Tables and fields: FindTable, TableFields, AppendField, DeleteField.
#include "platform/engine/schema.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/core/text.h"
#include "platform/engine/connection/engine_error.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/savepoint.h"
#include "platform/engine/connection/sql_quoting.h"
#include "platform/engine/connection/statement.h"
#include "platform/engine/connection/triggers_off.h"
#include "platform/engine/rows/column_type.h"
#include "platform/engine/rows/database_core.h"
#include "platform/engine/schema/field_enforcement.h"
#include "platform/engine/schema/field_properties.h"
#include "platform/engine/schema/saved_query_views.h"
#include "platform/engine/schema/validation_rule.h"

namespace platform::engine {

namespace {

using internal::EngineFailure;

// The size of a sized kind from its size text: "" -> 255, else 1 to 255.
int FieldSize(const NewField& field) {
  const std::string text = TrimSpaces(field.size_text);
  if (text.empty()) return 255;
  double size = 0;
  if (!ParseNumber(text, &size) || size != std::floor(size) || size < 1 || size > 255) {
    throw EngineFailure(engine_err::kBadFieldSize)
        .AddDetail("field", field.name)
        .AddDetail("size", field.size_text);
  }
  return static_cast<int>(size);
}

}  // namespace

std::string NewFieldDeclaredType(const NewField& field) {
  switch (field.type_code) {
    case field_type::kBoolean: return "YESNO";
    case field_type::kByte: return "BYTE";
    case field_type::kInteger: return "SHORT";
    case field_type::kLong: return "LONG";
    case field_type::kCurrency: return "CURRENCY";
    case field_type::kSingle: return "SINGLE";
    case field_type::kDouble: return "DOUBLE";
    case field_type::kDate: return "DATETIME";
    case field_type::kBinary: return "BINARY(" + std::to_string(FieldSize(field)) + ")";
    case field_type::kText: return "TEXT(" + std::to_string(FieldSize(field)) + ")";
    case field_type::kChar: return "CHAR(" + std::to_string(FieldSize(field)) + ")";
    case field_type::kNumeric:
    case field_type::kDecimal: return "DECIMAL(18,0)";
    case field_type::kFloat: return "FLOAT";
    case field_type::kTime: return "TIME";
  }
  throw EngineFailure(engine_err::kUnknownFieldType)
      .AddDetail("field", field.name)
      .AddDetail("type code", std::to_string(field.type_code));
}

namespace {

FieldProperties PropertiesOf(const NewField& field) {
  FieldProperties p;
  if (field.default_value) p.default_value = *field.default_value;
  if (field.required) p.required = *field.required;
  if (field.allow_zero_length) p.allow_zero_length = *field.allow_zero_length;
  if (field.validation_rule) p.validation_rule = TrimSpaces(*field.validation_rule);
  if (field.validation_text) p.validation_text = *field.validation_text;
  return p;
}

// A default value as the original engine's default expression gives it: a
// text in double quotes is that text.
Value DefaultOperand(const Value& value) {
  if (value.kind() != ValueKind::kText) return value;
  const std::string t = TrimSpaces(value.text());
  if (t.size() < 2 || t.front() != '"' || t.back() != '"') return value;
  std::string text;
  for (std::size_t i = 1; i + 1 < t.size(); ++i) {
    text += t[i];
    if (t[i] == '"' && t[i + 1] == '"') ++i;
  }
  return Value(text);
}

std::string SqlLiteral(const internal::StoredValue& stored) {
  struct Visitor {
    std::string operator()(std::monostate) const { return "NULL"; }
    std::string operator()(std::int64_t v) const { return std::to_string(v); }
    std::string operator()(double v) const {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.17g", v);
      return buffer;
    }
    std::string operator()(const std::string& v) const {
      std::string quoted = "'";
      for (char c : v) quoted += c == '\'' ? std::string("''") : std::string(1, c);
      return quoted + "'";
    }
    std::string operator()(const internal::Blob& v) const {
      static constexpr char kHex[] = "0123456789ABCDEF";
      std::string hex = "X'";
      for (unsigned char c : v.bytes) {
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
      }
      return hex + "'";
    }
  };
  return std::visit(Visitor{}, stored);
}

bool HasField(const internal::TableInfo& table, std::string_view field) {
  const std::string upper = UpperCase(field);
  for (const auto& c : table.columns) {
    if (UpperCase(c.name) == upper) return true;
  }
  return false;
}

// True when the column is a key or in an index (SQLite cannot drop it).
bool IsKeyOrIndexed(Database& db, const std::string& table, const internal::ColumnInfo& column) {
  if (column.key_position != 0) return true;
  const std::vector<Value> params = {Value(table)};
  const Rows indexed = db.Query(
      "SELECT ii.name FROM pragma_index_list(?) AS il, pragma_index_info(il.name) AS ii", params);
  for (const auto& row : indexed.rows) {
    if (!row[0].IsNull() && UpperCase(row[0].ToText()) == UpperCase(column.name)) return true;
  }
  return false;
}

struct ViewDefinition {
  std::string name;
  std::string sql;
};

std::vector<ViewDefinition> DropAllViews(Database& db) {
  std::vector<ViewDefinition> views;
  for (const auto& row :
       db.Query("SELECT name, sql FROM sqlite_schema WHERE type = 'view' ORDER BY rowid").rows) {
    views.push_back({row[0].ToText(), row[1].ToText()});
  }
  for (const ViewDefinition& v : views) db.Exec("DROP VIEW " + QuoteIdentifier(v.name));
  return views;
}

// Recreates the views that still compile, each from its own text under its
// own name; one may use another, so passes repeat while any view was
// recreated. A view's SQL runs as a statement of its own: it may end in a
// comment ("-- ..." or an open "/* ..."), which would swallow any statement
// written after it in the same text. The text of a view that no longer
// compiles is kept as a saved query.
void RecreateViews(Database& db, std::vector<ViewDefinition> views) {
  bool progress = true;
  while (progress && !views.empty()) {
    progress = false;
    std::vector<ViewDefinition> failed;
    for (ViewDefinition& v : views) {
      try {
        db.Exec("SAVEPOINT engine_view");
        db.Execute(v.sql);
        db.Prepare("SELECT * FROM " + QuoteIdentifier(v.name));  // compiles the view
        db.Exec("RELEASE engine_view");
        progress = true;
      } catch (const Error&) {
        db.Exec("ROLLBACK TO engine_view; RELEASE engine_view");
        failed.push_back(std::move(v));
      }
    }
    views = std::move(failed);
  }
  for (const ViewDefinition& v : views) internal::KeepViewAsSavedQuery(db, v.name, v.sql);
}

}  // namespace

std::string FindTable(Database& db, std::string_view table) {
  return db.core().Table(table).name;
}

std::vector<FieldInfo> TableFields(Database& db, std::string_view table) {
  const internal::TableInfo info = db.core().Table(table);
  const auto stored = internal::LoadFieldProperties(db, info.name);
  std::vector<FieldInfo> fields;
  for (const auto& column : info.columns) {
    FieldInfo field{column.name, column.declared_type, {}};
    if (auto it = stored.find(UpperCase(column.name)); it != stored.end()) {
      field.properties = it->second;
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

void CheckValidationRule(std::string_view rule) {
  const std::string trimmed = TrimSpaces(std::string(rule));
  if (!trimmed.empty()) internal::TranslateValidationRule(trimmed, "x");
}

void CheckDefaultValue(std::string_view table, std::string_view field,
                       std::string_view declared_type, const Value& default_value) {
  internal::ConvertToDeclaredType(table, field, declared_type, DefaultOperand(default_value));
}

void AppendField(Database& db, std::string_view table, const NewField& field) {
  const internal::TableInfo info = db.core().Table(table);
  // Everything that can be refused is checked before anything changes.
  const std::string declared = NewFieldDeclaredType(field);
  const FieldProperties properties = PropertiesOf(field);
  CheckValidationRule(properties.validation_rule);
  if (HasField(info, field.name)) {
    throw EngineFailure(engine_err::kNameInUse)
        .AddDetail("table", info.name)
        .AddDetail("field", field.name);
  }
  const internal::StoredValue default_value = internal::ConvertToDeclaredType(
      info.name, field.name, declared, DefaultOperand(properties.default_value));

  const std::string quoted_table = QuoteIdentifier(info.name);
  const std::string quoted_field = QuoteIdentifier(field.name);
  internal::Savepoint change = db.core().Change();
  std::string add = "ALTER TABLE " + quoted_table + " ADD COLUMN " + quoted_field + " " + declared;
  const bool has_default = !std::holds_alternative<std::monostate>(default_value);
  if (has_default) add += " DEFAULT " + SqlLiteral(default_value);
  db.Exec(add);
  // SQLite shows a column's DEFAULT in every row stored before the column
  // existed (also after a schema-only change of the DEFAULT), while the
  // original engine leaves those rows null: they must hold an explicit null.
  // No other program's trigger may see that as an update of its rows.
  if (has_default) {
    const internal::TriggersOff off(db.core().connection.get());
    db.Exec("UPDATE " + quoted_table + " SET " + quoted_field + " = NULL");
  }
  internal::CreateFieldEnforcement(db, info.name, field.name, properties);
  internal::SaveFieldProperties(db, info.name, field.name, properties);
  change.Release();
}

void DeleteField(Database& db, std::string_view table, std::string_view field) {
  const internal::TableInfo info = db.core().Table(table);
  const internal::ColumnInfo column = info.Column(field);
  if (IsKeyOrIndexed(db, info.name, column)) {
    throw EngineFailure(engine_err::kCannotDropField)
        .AddDetail("table", info.name)
        .AddDetail("field", column.name)
        .AddDetail("engine", "the field is a key or is indexed");
  }
  internal::Savepoint change = db.core().Change();
  std::vector<ViewDefinition> views = DropAllViews(db);
  internal::DropFieldEnforcement(db, info.name, column.name);
  db.Exec("ALTER TABLE " + QuoteIdentifier(info.name) + " DROP COLUMN " +
          QuoteIdentifier(column.name));
  internal::RemoveFieldProperties(db, info.name, column.name);
  RecreateViews(db, std::move(views));
  change.Release();
}

}  // namespace platform::engine
