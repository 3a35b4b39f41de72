#include "reshaper/step_failure.h"

#include <utility>

namespace reshaper {

namespace {

// The number of a step's own stop. Code 1 is also the driver's parameter
// error, but this one never leaves the step that raised it.
constexpr long kStepStopped = platform::err::kObjectErrorBase + 1;

// Whether the position's `sql` is the statement that the engine's error
// names in its own `SQL` line: the statement is then printed once, there.
bool Repeats(const platform::Error& error, const platform::Error::Detail& fact) {
  if (fact.first != "sql") return false;
  for (const auto& [what, value] : error.details()) {
    if (what == "SQL" && value == fact.second) return true;
  }
  return false;
}

}  // namespace

void StopStep(std::string reason) {
  throw platform::Error(kStepStopped, std::move(reason));
}

void RecordStepFailure(std::string_view step, const StepPosition& position,
                       const platform::Error& error, StepFailure* failure) {
  auto& out = failure->details;
  out.clear();
  out.emplace_back("step", std::string(step));
  for (const auto& fact : position) {
    if (!Repeats(error, fact)) out.push_back(fact);
  }
  if (error.number() == kStepStopped) {
    out.emplace_back("cause", error.description());
  } else {
    out.emplace_back("engine", std::to_string(error.number()) + " " + error.description());
  }
  out.insert(out.end(), error.details().begin(), error.details().end());
}

}  // namespace reshaper
