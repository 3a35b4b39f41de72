#include "reshaper/mod_main.h"

#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/files.h"
#include "platform/core/message_box.h"
#include "platform/core/text.h"
#include "platform/engine/database.h"
#include "platform/engine/integrity.h"
#include "platform/history/writer.h"
#include "reshaper/command_line.h"
#include "reshaper/journal.h"
#include "reshaper/mod_io.h"
#include "reshaper/mod_procedures.h"
#include "reshaper/paths.h"
#include "reshaper/run_history.h"
#include "reshaper/upgrade_steps.h"

namespace reshaper {

namespace {

using platform::Error;
namespace code = failure_code;

constexpr const char* kTitle = "Reshaper";

struct RunState {
  CommandLine line;
  std::string sShellPath;  // the shell working copy; empty until a mode word is read
  std::optional<Database> target;
  std::optional<Database> shell;
  std::optional<RunHistory> history;  // none while the run writes no history
};

std::string LogLine(const std::string& text) {
  return text + " " + platform::NowGeneralDate();
}

// Fails with `failure`: logs its message and raises it with the facts for
// the `detail:` lines. (The parameter error, never logged, is raised by the
// command-line reader.)
[[noreturn]] void Fail(long failure, const std::vector<Error::Detail>& details = {}) {
  const std::string message = FailureMessage(failure);
  WriteLog(LogLine(message), LogPath());
  Error error(failure, message);
  for (const auto& [what, value] : details) error.AddDetail(what, value);
  throw error;
}

// A plain delete: a read-only marker makes it fail (an unexpected error), and
// the marker then stays.
void RemoveOldMarker() {
  if (platform::FileExists(MarkerPath())) platform::DeleteFile(MarkerPath(), /*force=*/false);
}

// A lock file that a live process holds means another user has the target
// open. One left by a process that died is removed, and the run goes on.
void CheckLockFile() {
  using platform::engine::LockState;
  switch (platform::engine::ProbeLockFile(TargetPath())) {
    case LockState::kNone: return;
    case LockState::kHeld:
      Fail(code::kDatabaseLocked,
           {{"lock file", LockFilePath()}, {"cause", "a running program has the database open"}});
    case LockState::kStale:
      platform::engine::RemoveStaleLockFile(TargetPath());
      platform::WriteDetail("stale lock file removed", LockFilePath());
      return;
  }
}

// A working copy that another program has open (its lock file held) is
// neither copied over nor deleted: the copy fails before any change, as
// copying over an open file did on the original platform (Permission
// denied), and the file stays with its holder.
void RequireShellCopyFree(const std::string& copy) {
  if (platform::engine::ProbeLockFile(copy) != platform::engine::LockState::kHeld) return;
  throw Error(platform::err::kPermissionDenied)
      .AddDetail("lock file", platform::engine::LockFileOf(copy))
      .AddDetail("cause", "a running program has the shell's working copy open");
}

// Copies the mode's shell database from the program folder over its working
// copy beside the target and answers the copy's path. Neither file may pair
// with a journal left by a killed process, so both are rolled back first.
std::string CopyShell(const std::string& sMode) {
  const std::string source = ShellSourcePath(sMode);
  const std::string copy = DatabaseFolder() + ShellFileName(sMode);
  RequireShellCopyFree(copy);
  RollBackHotJournal(source);
  RollBackHotJournal(copy);
  platform::CopyFileOver(source, copy);
  platform::SetAttributesNormal(copy);
  return copy;
}

// The working copy is deleted at the end of the run, so a failure to open it
// also names the shell it was copied from: the file the operator can look at.
Database OpenShellCopy(const RunState& state) {
  try {
    return Database::Open(state.sShellPath);
  } catch (Error& failure) {
    failure.AddDetail("shell source", ShellSourcePath(state.line.sMode));
    throw;
  }
}

// The run's history, when the install log's folder exists: opened once the
// command line is read and the target found, so that a history that cannot
// be written fails the run before any change.
void StartHistory(const std::string& sCommandLine, RunState& state) {
  if (const auto path = platform::history::DefaultHistoryPath()) {
    state.history.emplace(*path, sCommandLine, state.line.sMode);
  }
}

// Attaches the history to the open target, so that each change commits with
// its record, and answers the observer that wraps the changes; none without
// a history. A target read-only by its mode bits is opened read-only, and
// such a connection cannot attach a file for writing; nothing can change in
// it either: each step fails at its first write, as without a history.
StepObserver* AttachHistory(RunState& state) {
  if (!state.history || platform::IsReadOnly(TargetPath())) return nullptr;
  state.history->Attach(*state.target);
  return &*state.history;
}

// Logs the failure of a step where it arose, then lets it pass on. Answers
// the saved queries left without a view.
std::vector<std::string> RunSteps(RunState& state, StepObserver* observer) {
  try {
    return RunUpgradeSteps(state.line, *state.target, *state.shell, observer);
  } catch (const Error& error) {
    WriteLog(LogLine(error.description()), LogPath());
    throw;
  }
}

std::uint64_t TargetSize() {
  return platform::SizeOf(platform::OpenForReading(TargetPath()), TargetPath());
}

// Compacts the target and records it in the history right after.
void Compact(RunState& state) {
  const std::uint64_t size_before = TargetSize();
  StepFailure failure;
  if (!CompactTarget(&failure)) Fail(code::kCompaction, failure.details);
  if (state.history) state.history->RecordCompaction(size_before, TargetSize());
}

void WriteMarker() {
  platform::CreateEmptyFile(MarkerPath());
  if (!platform::FileExists(MarkerPath())) Fail(code::kCreatingFile, {{"file", MarkerPath()}});
}

void Run(const std::string& sCommandLine, RunState& state) {
  WriteLog(LogLine("Reshaper program start"), LogPath());
  RemoveOldMarker();
  if (!platform::FileExists(TargetPath())) Fail(code::kTargetMissing, {{"file", TargetPath()}});
  CheckLockFile();
  // A damaged target is left as it is (a compaction would make the damage
  // permanent), before the shell's working copy is laid beside it.
  platform::engine::CheckDatabaseIntegrity(TargetPath());
  state.line = ReadCommandLine(
      sCommandLine, [&state](const std::string& sMode) { state.sShellPath = CopyShell(sMode); });
  StartHistory(sCommandLine, state);

  state.target = Database::Open(TargetPath());
  StepObserver* const observer = AttachHistory(state);
  state.shell = OpenShellCopy(state);
  const std::vector<std::string> without_view = RunSteps(state, observer);
  if (state.history) state.history->Detach();
  state.target->Close();
  state.shell->Close();

  Compact(state);
  WriteMarker();
  // Facts of a successful run, as the removed stale lock file: the texts are
  // kept and come back as views once they compile.
  for (const std::string& name : without_view) {
    platform::WriteDetail("saved query without view", name);
  }
}

// Shows the failure's message, logging it first when no code covers it (the
// codes were logged where they arose), then the facts behind it. Returns
// the exit status.
int HandleFailure(const Error& error) {
  if (const char* message = FailureMessage(error.number())) {
    platform::MessageBox(message, platform::kOkOnly, kTitle);
  } else {
    WriteLog(LogLine(kUnexpectedErrorMessage), LogPath());
    platform::MessageBox(kUnexpectedErrorMessage, platform::kOkOnly, kTitle);
    platform::WriteDetail("error", std::to_string(error.number()) + " " + error.description());
  }
  platform::WriteDetails(error);
  return error.number() == code::kParameterError ? 2 : 1;
}

// Every action is tried; a failure of one is ignored and the next runs.
void FinalCleanUp(RunState& state) noexcept {
  try {
    if (state.history) state.history->Detach();
  } catch (const std::exception&) {
  }
  try {
    if (state.target) state.target->Close();
  } catch (const std::exception&) {
  }
  try {
    if (state.shell) state.shell->Close();
  } catch (const std::exception&) {
  }
  try {
    if (!state.sShellPath.empty()) platform::DeleteFile(state.sShellPath, /*force=*/false);
  } catch (const std::exception&) {
  }
  state.target.reset();
  state.shell.reset();
}

}  // namespace

const char* FailureMessage(long number) {
  switch (number) {
    case code::kParameterError: return "Parameter Error. Reshaper Aborted";
    case code::kCreatingFile: return "Error Creating File. Reshaper Aborted";
    case code::kCreatingQueries: return "Error Creating New Queries. Reshaper Aborted";
    case code::kTargetMissing: return "Corvista1k.mdb is Missing. Reshaper Aborted";
    case code::kSoftwareVersion: return "Unable to Update Software Version. Reshaper Aborted";
    case code::kDatabaseStructure:
      return "Unable to Update the Database Structure. Reshaper Aborted";
    case code::kDefaultData: return "Unable to Update the Default Data. Reshaper Aborted";
    case code::kCompaction: return "Unable to Compact the Database. Reshaper Aborted";
    case code::kDatabaseLocked: return "The Corvista1k.mdb Database is locked. Reshaper Aborted";
    default: return nullptr;
  }
}

int Main(const std::string& sCommandLine) {
  RunState state;
  int status = 0;
  try {
    Run(sCommandLine, state);
  } catch (const Error& error) {
    status = HandleFailure(error);
  } catch (const std::exception& error) {
    status = HandleFailure(Error(platform::err::kDeviceIoError, error.what()));
  }
  FinalCleanUp(state);
  if (state.history) state.history->Seal(status);
  return status;
}

}  // namespace reshaper
