// UpdateDefaultData.
#include "platform/core/text.h"
#include "reshaper/mod_procedures.h"

namespace reshaper {

bool UpdateDefaultData(Database& target, Database& shell, StepFailure* failure,
                       const ChangeSeam& seam) {
  return TrapStepFailure("default data", failure, [&](StepPosition& position) {
    const platform::engine::Rows rows = shell.Query("SELECT * FROM DefaultData");
    if (rows.empty()) StopStep("DefaultData has no rows");
    for (std::size_t row = 0; row < rows.rows.size(); ++row) {
      const platform::Value& vSql = rows.Field(row, "SQL");
      position = {{"statement", std::to_string(row + 1) + ": " + vSql.Describe()}};
      const std::string sql = platform::TrimSpaces(vSql.ToText());
      MakeThrough(seam, {"DEFAULT DATA", std::nullopt, row + 1, sql}, [&] { target.Execute(sql); });
    }
  });
}

}  // namespace reshaper
