#include "reshaper/upgrade_steps.h"

#include "platform/core/error.h"
#include "platform/engine/schema.h"
#include "reshaper/mod_main.h"
#include "reshaper/mod_procedures.h"

namespace reshaper {

namespace {

class Sequence {
 public:
  explicit Sequence(StepObserver* observer) : observer_(observer ? observer : &silent_) {}

  // Runs `step` through `body(failure)`; on false throws `code`.
  template <typename Body>
  void Run(UpgradeStep step, long code, Body&& body) {
    observer_->Starting(step);
    StepFailure failure;
    const bool done = body(&failure);
    observer_->Ended(step);
    if (done) return;
    platform::Error error(code, FailureMessage(code));
    for (const auto& [what, value] : failure.details) error.AddDetail(what, value);
    throw error;
  }

  // Each change of a step goes through the observer.
  ChangeSeam seam() {
    return [this](const StepChange& change, const MakeChange& make) {
      observer_->Changing(change, make);
      if (change.statement != 0) observer_->StatementRan(change.statement, change.sql);
    };
  }

 private:
  StepObserver silent_;
  StepObserver* observer_;
};

}  // namespace

std::vector<std::string> RunUpgradeSteps(const CommandLine& line,
                                         platform::engine::Database& target,
                                         platform::engine::Database& shell,
                                         StepObserver* observer) {
  namespace code = failure_code;
  Sequence sequence(observer);
  const ChangeSeam seam = sequence.seam();
  if (line.bQuery) {
    sequence.Run(UpgradeStep::kQueries, code::kCreatingQueries,
                 [&](StepFailure* f) { return CreateQueries(target, shell, f, seam); });
  }
  if (line.bStructure) {
    sequence.Run(UpgradeStep::kStructure, code::kDatabaseStructure, [&](StepFailure* f) {
      return UpdateStructure(target, shell, line.sMode, f, seam);
    });
    if (line.sMode == "INSTALL") {
      sequence.Run(UpgradeStep::kDefaultData, code::kDefaultData,
                   [&](StepFailure* f) { return UpdateDefaultData(target, shell, f, seam); });
    }
  }
  if (line.bVersion) {
    sequence.Run(UpgradeStep::kVersion, code::kSoftwareVersion,
                 [&](StepFailure* f) { return UpdateVersion(target, shell, f, seam); });
  }
  return platform::engine::MakeMissingViews(target);
}

}  // namespace reshaper
