#include "shell_package/check.h"

#include <set>
#include <utility>

#include "platform/core/text.h"
#include "platform/engine/schema.h"
#include "platform/engine/snapshot.h"
#include "reshaper/mod_procedures.h"

namespace shell_package {

namespace {

namespace engine = platform::engine;
using engine::Database;
using engine::Rows;
using platform::Value;

class Checker {
 public:
  explicit Checker(CheckReport& report) : report_(report) {}

  void Problem(std::string where, std::string what) {
    report_.problems.push_back({std::move(where), std::move(what)});
  }
  void Note(std::string where, std::string what) {
    report_.notes.push_back({std::move(where), std::move(what)});
  }
  // Runs `body`; an error it raises becomes a problem at `where`.
  template <typename Body>
  bool Try(const std::string& where, const std::string& what, Body&& body) {
    try {
      body();
      return true;
    } catch (const platform::Error& error) {
      Problem(where, what + ": " + DescribeError(error));
      return false;
    }
  }

 private:
  CheckReport& report_;
};

bool IsBlank(const Value& value) {
  return value.IsNull() || value.IsEmpty() || platform::TrimSpaces(value.ToText()).empty();
}

std::string StepFacts(const reshaper::StepFailure& failure) {
  std::string text;
  for (const auto& [what, value] : failure.details) {
    text += (text.empty() ? "" : "; ") + what + ": " + value;
  }
  return text;
}

// The rows of a shell table, or nullopt (a problem) when it cannot be read.
std::optional<Rows> ReadShellTable(Database& shell, const std::string& table, Checker& checker) {
  std::optional<Rows> rows;
  checker.Try(table, "cannot be read",
              [&] { rows = shell.Query("SELECT * FROM " + engine::QuoteIdentifier(table)); });
  if (rows && rows->empty()) checker.Problem(table, "has no rows: the step that reads it fails");
  return rows;
}

std::string RowWhere(const Rows& rows, std::size_t row) {
  auto text = [&](const char* column) {
    const Value& v = rows.Field(row, column);
    return v.IsNull() ? std::string("?") : v.ToText();
  };
  return "StructureInfo row " + std::to_string(row + 1) + " (" + text("Table") + "." +
         text("Name") + ")";
}

void CheckTruthValue(const Rows& rows, std::size_t row, const char* column, Checker& checker) {
  const Value& v = rows.Field(row, column);
  if (v.IsNull()) return;
  checker.Try(RowWhere(rows, row), std::string(column) + " " + v.Describe() + " is no truth value",
              [&] { (void)v.ToBoolean(); });
}

// What the structure step reads of one row in mode "INSTALL", each part on
// its own so that every fault of the row is named.
void CheckFieldDefinition(const Rows& rows, std::size_t row, std::string& sSize, Checker& checker) {
  const std::string where = RowWhere(rows, row);
  const Value& vType = rows.Field(row, "DataType");
  const Value vCode = reshaper::MapFieldType(vType);
  const std::string& size_text = reshaper::CarrySizeText(rows.Field(row, "Size"), sSize);
  CheckTruthValue(rows, row, "Required", checker);
  CheckTruthValue(rows, row, "AllowZeroLength", checker);
  if (const Value& v = rows.Field(row, "ValidationRule"); !v.IsNull()) {
    checker.Try(where, "validation rule " + v.Describe() + " cannot be enforced",
                [&] { engine::CheckValidationRule(v.ToText()); });
  }
  if (vCode.kind() == platform::ValueKind::kText) {
    checker.Problem(where, "type word " + vType.Describe() + " is none of the known words");
    return;
  }
  engine::NewField field;
  field.name = rows.Field(row, "Name").IsNull() ? "" : rows.Field(row, "Name").ToText();
  field.type_code = vCode.ToInteger();
  field.size_text = size_text;
  std::string declared;
  if (!checker.Try(where, "size \"" + size_text + "\" does not suit type " + vType.Describe(),
                   [&] { declared = engine::NewFieldDeclaredType(field); })) {
    return;
  }
  if (const Value& v = rows.Field(row, "DefaultData"); reshaper::GivesDefault(v)) {
    checker.Try(where, "default value " + v.Describe() + " does not fit " + declared, [&] {
      engine::CheckDefaultValue(rows.Field(row, "Table").ToText(), field.name, declared, v);
    });
  }
}

void CheckStructureRows(const Rows& rows, const std::string& mode, Checker& checker) {
  std::string sSize;
  for (std::size_t row = 0; row < rows.rows.size(); ++row) {
    checker.Try(RowWhere(rows, row), "cannot be read", [&] {
      for (const char* column : {"Table", "Name"}) {
        if (IsBlank(rows.Field(row, column))) {
          checker.Problem(RowWhere(rows, row), std::string(column) + " is empty");
        }
      }
      if (mode == "INSTALL") CheckFieldDefinition(rows, row, sSize, checker);
    });
  }
}

void CheckVersionRow(const Rows& rows, Checker& checker) {
  checker.Try("VersionInfo row 1", "cannot be read", [&] {
    for (const char* column : {"TableName", "FieldName"}) {
      if (IsBlank(rows.Field(0, column))) {
        checker.Problem("VersionInfo row 1", std::string(column) + " is empty");
      }
    }
    (void)rows.Field(0, "VersionNumber");
  });
}

// Whether the target has the field under exactly its name, only in other
// letter case (its creation then fails), or not at all.
void NoteFieldPresence(Database& target, const Rows& rows, std::size_t row, const std::string& mode,
                       Checker& checker) {
  const std::string where = RowWhere(rows, row);
  std::string table;
  if (!checker.Try(where, "the target lacks the table",
                   [&] { table = engine::FindTable(target, rows.Field(row, "Table").ToText()); })) {
    return;
  }
  const std::string name = rows.Field(row, "Name").ToText();
  std::string other_case;
  for (const auto& field : engine::TableFields(target, table)) {
    if (field.name == name) {
      checker.Note(where,
                   mode == "INSTALL" ? "present: left as it is" : "present: removed with its data");
      return;
    }
    if (platform::UpperCase(field.name) == platform::UpperCase(name)) other_case = field.name;
  }
  if (!other_case.empty() && mode == "INSTALL") {
    checker.Problem(
        where, "the target has it as " + other_case + ", in other letter case: its creation fails");
  } else {
    checker.Note(where, mode == "INSTALL" ? "absent: added" : "absent: nothing to remove");
  }
}

// The run keeps a saved SELECT whose view cannot be made as its text only:
// a problem for the shell's own queries, a note for the target's.
void NoteQueriesWithoutView(Database& copy, const std::vector<engine::SavedQuery>& queries,
                            const std::string& against, Checker& checker) {
  std::set<std::string> without_view;
  for (std::string& name : engine::MakeMissingViews(copy)) without_view.insert(std::move(name));
  for (const auto& query : queries) {
    if (without_view.erase(query.name)) {
      checker.Problem("query " + query.name,
                      "does not prepare against " + against +
                          ": the run keeps it as a saved query without a view");
      continue;
    }
    checker.Try("query " + query.name, "does not prepare against " + against,
                [&] { copy.Prepare(query.sql); });
  }
  for (const std::string& name : without_view) {
    checker.Note("query " + name, "does not compile against " + against +
                                      ": the run keeps it as a saved query without a view");
  }
}

void PrepareDefaultData(Database& db, const Rows& rows, const std::string& against,
                        Checker& checker) {
  for (std::size_t row = 0; row < rows.rows.size(); ++row) {
    const std::string where = "DefaultData statement " + std::to_string(row + 1);
    checker.Try(where, "does not prepare against " + against,
                [&] { db.Prepare(platform::TrimSpaces(rows.Field(row, "SQL").ToText())); });
  }
}

struct ShellTables {
  std::optional<Rows> structure;
  std::optional<Rows> default_data;
  std::vector<engine::SavedQuery> queries;
};

// The run's steps on `copy` (the target's copy, or the shell's own when no
// target is given), in the run's order, with what each would meet.
void CheckAgainst(Database& copy, Database& shell, const ShellTables& tables,
                  const std::string& mode, bool is_target, Checker& checker) {
  const std::string against = is_target ? "the target" : "the shell's own tables";
  reshaper::StepFailure failure;
  // A query may select a field that the structure step adds: it is checked
  // after that step.
  if (is_target && !reshaper::CreateQueries(copy, shell, &failure)) {
    checker.Problem("query step", "fails: " + StepFacts(failure));
  }
  if (is_target && tables.structure) {
    for (std::size_t row = 0; row < tables.structure->rows.size(); ++row) {
      NoteFieldPresence(copy, *tables.structure, row, mode, checker);
    }
  }
  if (!reshaper::UpdateStructure(copy, shell, mode, &failure)) {
    if (is_target) {
      checker.Problem("structure step", "fails (later checks see the target as far as it got): " +
                                            StepFacts(failure));
    } else {
      checker.Note("structure step",
                   "on the shell's own tables stops (later checks see them as "
                   "far as it got): " +
                       StepFacts(failure));
    }
  }
  const std::string after = against + " after the structure step";
  if (mode == "INSTALL" && tables.default_data) {
    PrepareDefaultData(copy, *tables.default_data, after, checker);
  }
  NoteQueriesWithoutView(copy, tables.queries, after, checker);
  if (is_target && !reshaper::UpdateVersion(copy, shell, &failure)) {
    checker.Problem("version step", "fails: " + StepFacts(failure));
  }
}

}  // namespace

std::string ModeOfShell(const std::string& shell_path) {
  const std::size_t slash = shell_path.find_last_of('/');
  const std::string name = shell_path.substr(slash == std::string::npos ? 0 : slash + 1);
  return platform::UpperCase(name) == "ERUSHELL.MDB" ? "ERU" : "INSTALL";
}

CheckReport CheckShell(const std::string& shell_path,
                       const std::optional<std::string>& database_path, const std::string& mode) {
  CheckReport report{shell_path, database_path, mode, {}, {}};
  Checker checker(report);
  Database shell = engine::OpenInMemoryCopy(shell_path);
  ShellTables tables;
  tables.structure = ReadShellTable(shell, "StructureInfo", checker);
  if (tables.structure) CheckStructureRows(*tables.structure, mode, checker);
  if (const auto version = ReadShellTable(shell, "VersionInfo", checker);
      version && !version->empty()) {
    CheckVersionRow(*version, checker);
  }
  if (mode == "INSTALL") tables.default_data = ReadShellTable(shell, "DefaultData", checker);
  checker.Try("saved queries", "cannot be read",
              [&] { tables.queries = engine::SavedQueries(shell); });

  Database copy = engine::OpenInMemoryCopy(database_path ? *database_path : shell_path);
  CheckAgainst(copy, shell, tables, mode, database_path.has_value(), checker);
  return report;
}

}  // namespace shell_package
