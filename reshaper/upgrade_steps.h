// The upgrade steps that a command line asks for, in their fixed order:
// queries, then structure with default data (mode "INSTALL" only), then
// version, whatever the order of the words. Shared by the driver and by the
// tools that preview an upgrade on copies, so both run the same sequence.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/engine/database.h"
#include "reshaper/command_line.h"
#include "reshaper/step_change.h"

namespace reshaper {

enum class UpgradeStep { kQueries, kStructure, kDefaultData, kVersion };

// Told what the sequence does as it goes. Ended is called for every step
// that Starting was, also when the step failed.
class StepObserver {
 public:
  virtual ~StepObserver() = default;
  virtual void Starting(UpgradeStep) {}
  virtual void Ended(UpgradeStep) {}
  // Makes one change of the running step (step_change.h) by calling `make`,
  // which is all the default does. An override that wraps the change calls
  // `make` once and lets its failure pass.
  virtual void Changing(const StepChange& /*change*/, const MakeChange& make) { make(); }
  // A default-data statement (`statement` counts from 1) has run.
  virtual void StatementRan(std::size_t /*statement*/, const std::string& /*sql*/) {}
};

// Runs the steps `line` asks for on the open `target` and `shell`. A step
// that fails ends the sequence: throws its failure code (3, 6, 7 or 8) with
// the code's message and the step's facts as details. Logs nothing.
// Answers the names of the saved queries whose views cannot be made (they
// select fields or tables that the target lacks), after making every view
// that can.
std::vector<std::string> RunUpgradeSteps(const CommandLine& line,
                                         platform::engine::Database& target,
                                         platform::engine::Database& shell,
                                         StepObserver* observer = nullptr);

}  // namespace reshaper
