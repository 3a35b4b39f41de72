// Tables, fields, field properties and saved queries: the objects of the
// schema upgrader. Names are passed exactly as read from the databases.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/value.h"
#include "platform/engine/database.h"

namespace platform::engine {

// Field type codes of the original engine.
namespace field_type {
inline constexpr int kBoolean = 1;
inline constexpr int kByte = 2;
inline constexpr int kInteger = 3;
inline constexpr int kLong = 4;
inline constexpr int kCurrency = 5;
inline constexpr int kSingle = 6;
inline constexpr int kDouble = 7;
inline constexpr int kDate = 8;
inline constexpr int kBinary = 9;
inline constexpr int kText = 10;
inline constexpr int kChar = 18;
inline constexpr int kNumeric = 19;
inline constexpr int kDecimal = 20;
inline constexpr int kFloat = 21;
inline constexpr int kTime = 22;
}  // namespace field_type

// The field properties the engine keeps in its table SysFieldProperties.
struct FieldProperties {
  Value default_value;  // Empty when none
  bool required = false;
  bool allow_zero_length = true;
  std::string validation_rule;  // "" when none
  std::string validation_text;  // "" when none
};

// A field to append: name, type code, size text and properties; each
// std::nullopt property keeps the engine's default.
struct NewField {
  std::string name;
  int type_code = field_type::kText;
  std::string size_text;  // "" -> 255 for sized kinds; must be a number for them
  std::optional<Value> default_value;
  std::optional<bool> required;
  std::optional<bool> allow_zero_length;
  std::optional<std::string> validation_rule;
  std::optional<std::string> validation_text;
};

struct FieldInfo {
  std::string name;
  std::string declared_type;
  FieldProperties properties;
};

struct SavedQuery {
  std::string name;
  std::string sql;
};

// The table named `table` (case-insensitive, as the engine finds tables);
// throws engine_err::kUnknownTable when there is none. Returns its own name.
std::string FindTable(Database& db, std::string_view table);
// Its fields in column order.
std::vector<FieldInfo> TableFields(Database& db, std::string_view table);
// Adds the column: existing rows hold null in it; later rows get the default;
// Required, AllowZeroLength = false and the ValidationRule are enforced inside
// the file for every later insert and update by any program. A rule that
// cannot be translated, a bad size text or an unknown type code fails before
// anything changes.
void AppendField(Database& db, std::string_view table, const NewField& field);

// The refusals AppendField makes before anything changes, each on its own,
// so that a tool that checks a shell can name every fault of a field.
// The declared type a new field gets: kUnknownFieldType, kBadFieldSize.
std::string NewFieldDeclaredType(const NewField& field);
// kUntranslatableRule unless `rule` (spaces trimmed, "" for none) is one the
// engine can enforce.
void CheckValidationRule(std::string_view rule);
// kValueDoesNotFit unless `default_value` (a text in double quotes stands
// for that text) fits a field `table`.`field` of `declared_type`.
void CheckDefaultValue(std::string_view table, std::string_view field,
                       std::string_view declared_type, const Value& default_value);

// Removes the column with its data (views and the engine's enforcement
// objects that mention it are recreated where they still compile).
// A key, unique or indexed column fails with kCannotDropField.
void DeleteField(Database& db, std::string_view table, std::string_view field);

// Saved queries in the order they were stored.
std::vector<SavedQuery> SavedQueries(Database& db);
// Deletes the query of exactly this name (kUnknownQuery when none).
void DeleteSavedQuery(Database& db, std::string_view name);
// Creates a query. A SELECT also becomes a view of that name when it
// compiles against the database as it stands; one over tables or fields that
// do not exist (yet) is stored without its view (MakeMissingViews makes it
// later). Any other SQL must prepare. A name that clashes in any letter case
// with another query, view or table fails with kNameInUse.
void CreateSavedQuery(Database& db, std::string_view name, std::string_view sql);
// Makes the view of every saved SELECT that has none and now compiles.
// Returns the names of the saved SELECTs still without a view, in stored
// order.
std::vector<std::string> MakeMissingViews(Database& db);
// Runs a saved action query, or the rows of a saved SELECT.
ExecuteResult RunSavedQuery(Database& db, std::string_view name);

// Compacts the database at `path` in place (VACUUM): under SQLite's
// exclusive lock, held from the first page read to the last page written,
// and through its rollback journal, so that no other connection commits in
// between, every other connection reads the compacted content, a crash
// leaves the old database, and the file keeps its inode, owner, mode and any
// link naming it. SQLite builds the compacted pages in a temporary file of
// its own (outside the database's folder). Fails with kDatabaseInUse when a
// live lock file shows the database open in the engine, with SQLite's busy
// error when another program holds a lock past the busy timeout, and with
// its error when the journal does not fit (SQLITE_READONLY for a database
// read-only by its mode bits); the database is then as it was.
void CompactDatabase(const std::string& path);

}  // namespace platform::engine
