// A crash campaign: one program run, killed in turn before each of many
// file-changing calls spread over it, each crash followed by the checks that
// a careful operator relies on and by a rerun of the same command line.
#pragma once

#include <string>
#include <vector>

#include "tests/crash/kill_points.h"

namespace crash {

// What a campaign needs to know of one program's run. The campaign calls
// Reset before every run, so every run starts from the same files.
class Scenario {
 public:
  virtual ~Scenario() = default;

  virtual std::string Title() const = 0;
  virtual Command RunCommand() const = 0;
  // Puts every file of the run back as it was before the first run.
  virtual void Reset() = 0;
  // The database content that the run changes (schema and rows); a failure
  // of the integrity check is part of it, so it never equals a sound state.
  virtual std::string DatabaseState() const = 0;
  // The files of the run's folders, to find leftovers of killed runs.
  virtual std::vector<std::string> FolderListing() const = 0;

  // Called after the first whole run, for scenarios that keep what it wrote.
  virtual void RecordWholeRun() {}

  // Checks after a kill, given the database state found and the states of
  // the database before and after a whole run. Returns "" or what is wrong.
  virtual std::string CheckAfterKill(const std::string& state, const std::string& before,
                                     const std::string& after) const = 0;
};

struct CampaignResult {
  int file_changes = 0;  // of one whole run
  int kill_points = 0;
  std::vector<std::string> failures;  // "kill point k: what is wrong"
};

// Runs the scenario once whole, then kills it at `points` points spread over
// its file changes. After each kill: CheckAfterKill, then a rerun that must
// succeed (exit 0), reach the state of a whole run (or of a second whole run
// when the killed one had already finished its changes) and leave the same
// files as a whole run.
CampaignResult RunCampaign(Scenario& scenario, int points);

// "<title>: <k> kill points over <n> file changes, <c> consistent".
std::string Summary(const Scenario& scenario, const CampaignResult& result);

}  // namespace crash
