// CreateQueries.
#include "platform/engine/schema.h"
#include "reshaper/mod_procedures.h"

namespace reshaper {

namespace {

namespace engine = platform::engine;

// Deletes the target's query of exactly this name, letter case included;
// one that differs only in case stays (and the creation that follows fails).
void DeleteQueryNamedExactly(Database& target, const std::string& name) {
  for (const auto& query : engine::SavedQueries(target)) {
    if (query.name == name) {
      engine::DeleteSavedQuery(target, query.name);
      return;
    }
  }
}

}  // namespace

bool CreateQueries(Database& target, Database& shell, StepFailure* failure) {
  return TrapStepFailure("query creation", failure, [&](StepPosition& position) {
    for (const auto& query : engine::SavedQueries(shell)) {
      position = {{"query", query.name}};
      DeleteQueryNamedExactly(target, query.name);
      engine::CreateSavedQuery(target, query.name, query.sql);
    }
  });
}

}  // namespace reshaper
