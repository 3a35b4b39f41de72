#include "tests/crash/crash_campaign.h"

#include <stdexcept>

namespace crash {

namespace {

std::string Join(const std::vector<std::string>& names) {
  std::string joined;
  for (const auto& n : names) joined += (joined.empty() ? "" : ", ") + n;
  return joined;
}

// The reference: the states before, after one whole run and after a second
// whole run, and the files a whole run leaves.
struct Reference {
  std::string before, after, after_twice;
  std::vector<std::string> listing;
  int file_changes = 0;
};

void ExpectSuccess(const TracedRun& run, const std::string& what) {
  if (run.killed || run.exit_status != 0) {
    throw std::runtime_error(what + " did not succeed (exit status " +
                             std::to_string(run.exit_status) + ")");
  }
}

Reference WholeRuns(Scenario& scenario) {
  Reference ref;
  scenario.Reset();
  ref.before = scenario.DatabaseState();
  scenario.Reset();  // reading the state may have touched the files
  const TracedRun first = RunTraced(scenario.RunCommand(), 0);
  ExpectSuccess(first, scenario.Title() + ": the whole run");
  ref.file_changes = first.file_changes;
  ref.after = scenario.DatabaseState();
  scenario.RecordWholeRun();
  ref.listing = scenario.FolderListing();
  ExpectSuccess(RunTraced(scenario.RunCommand(), 0), scenario.Title() + ": a second run");
  ref.after_twice = scenario.DatabaseState();
  if (ref.after == ref.before)
    throw std::runtime_error(scenario.Title() + ": the run changed nothing");
  return ref;
}

// What is wrong after the kill at `point` and the rerun, or "".
std::string CheckKillPoint(Scenario& scenario, const Reference& ref, int point) {
  scenario.Reset();
  if (!RunTraced(scenario.RunCommand(), point).killed) return "the run ended before the point";
  const std::string killed_state = scenario.DatabaseState();
  std::string wrong = scenario.CheckAfterKill(killed_state, ref.before, ref.after);
  if (!wrong.empty()) return "after the kill: " + wrong;

  const TracedRun rerun = RunTraced(scenario.RunCommand(), 0);
  if (rerun.exit_status != 0)
    return "the rerun failed with exit status " + std::to_string(rerun.exit_status);
  const std::string& expected = killed_state == ref.after ? ref.after_twice : ref.after;
  if (scenario.DatabaseState() != expected)
    return "the rerun did not reach the state of a whole run";
  const std::vector<std::string> listing = scenario.FolderListing();
  if (listing != ref.listing) {
    return "the rerun left files [" + Join(listing) + "] instead of [" + Join(ref.listing) + "]";
  }
  return "";
}

}  // namespace

CampaignResult RunCampaign(Scenario& scenario, int points) {
  const Reference ref = WholeRuns(scenario);
  CampaignResult result;
  result.file_changes = ref.file_changes;
  for (int point : SpreadPoints(ref.file_changes, points)) {
    ++result.kill_points;
    const std::string wrong = CheckKillPoint(scenario, ref, point);
    if (!wrong.empty()) {
      result.failures.push_back("kill point " + std::to_string(point) + " of " +
                                std::to_string(ref.file_changes) + ": " + wrong);
    }
  }
  return result;
}

std::string Summary(const Scenario& scenario, const CampaignResult& result) {
  return scenario.Title() + ": " + std::to_string(result.kill_points) + " kill points over " +
         std::to_string(result.file_changes) + " file changes, " +
         std::to_string(result.kill_points - static_cast<int>(result.failures.size())) +
         " consistent";
}

}  // namespace crash
