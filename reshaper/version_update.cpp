// UpdateVersion.
#include "platform/core/text.h"
#include "platform/engine/engine_error.h"
#include "platform/engine/schema.h"
#include "reshaper/mod_procedures.h"

namespace reshaper {

namespace {

namespace engine = platform::engine;

// The target's own spelling of the field that `sFieldName` names. The names
// come from the shell's data: they are looked up in the target's schema and
// never pasted into SQL, so a name cannot change what a statement does. The
// lookup matches the way SQL resolves a bare name: surrounding spaces
// ignored, letter case ignored.
std::string FieldOfTable(Database& target, const std::string& table,
                         const std::string& sFieldName) {
  const std::string wanted = platform::UpperTrim(sFieldName);
  for (const auto& field : engine::TableFields(target, table)) {
    if (platform::UpperCase(field.name) == wanted) return field.name;
  }
  throw platform::Error(engine::engine_err::kUnknownField,
                        engine::DescribeEngineError(engine::engine_err::kUnknownField))
      .AddDetail("field", table + "." + sFieldName);
}

}  // namespace

bool UpdateVersion(Database& target, Database& shell, StepFailure* failure,
                   const ChangeSeam& seam) {
  return TrapStepFailure("version update", failure, [&](StepPosition& position) {
    const engine::Rows rows = shell.Query("SELECT * FROM VersionInfo");
    if (rows.empty()) StopStep("VersionInfo has no rows");
    const platform::Value& vVersion = rows.Field(0, "VersionNumber");
    position = {{"version", "table " + rows.Field(0, "TableName").Describe() + ", field " +
                                rows.Field(0, "FieldName").Describe() + ", value " +
                                vVersion.Describe()}};
    const std::string table =
        engine::FindTable(target, platform::TrimSpaces(rows.Field(0, "TableName").ToText()));
    const std::string field = FieldOfTable(target, table, rows.Field(0, "FieldName").ToText());
    const auto first = target.FirstRow(table, "");
    if (!first) StopStep("the table " + table + " has no rows");
    MakeThrough(
        seam,
        SchemaChange("VERSION", platform::history::ChangeKind::kVersion, table + "." + field, field,
                     target.ReadField(table, *first, field), vVersion),
        [&] {
          target.UpdateRow(table, *first, {{field, vVersion}});
        });
  });
}

}  // namespace reshaper
