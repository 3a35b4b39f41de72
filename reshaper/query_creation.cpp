// CreateQueries.
#include <optional>

#include "platform/engine/schema.h"
#include "reshaper/mod_procedures.h"

namespace reshaper {

namespace {

namespace engine = platform::engine;
using platform::history::ChangeKind;

// The target's query of exactly this name, letter case included; one that
// differs only in case is none (and the creation that follows fails).
std::optional<engine::SavedQuery> QueryNamedExactly(Database& target, const std::string& name) {
  for (auto& query : engine::SavedQueries(target)) {
    if (query.name == name) return std::move(query);
  }
  return std::nullopt;
}

}  // namespace

bool CreateQueries(Database& target, Database& shell, StepFailure* failure,
                   const ChangeSeam& seam) {
  return TrapStepFailure("query creation", failure, [&](StepPosition& position) {
    for (const auto& query : engine::SavedQueries(shell)) {
      position = {{"query", query.name}, {"sql", query.sql}};
      const std::optional<engine::SavedQuery> old = QueryNamedExactly(target, query.name);
      const StepChange change =
          old ? SchemaChange("QUERY", ChangeKind::kQueryReplaced, query.name, "SQL", old->sql,
                             query.sql)
              : SchemaChange("QUERY", ChangeKind::kQueryAdded, query.name, "SQL", {}, query.sql);
      MakeThrough(seam, change, [&] {
        if (old) engine::DeleteSavedQuery(target, old->name);
        engine::CreateSavedQuery(target, query.name, query.sql);
      });
    }
  });
}

}  // namespace reshaper
