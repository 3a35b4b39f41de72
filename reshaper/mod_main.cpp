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
#include "reshaper/journal.h"
#include "reshaper/mod_io.h"
#include "reshaper/mod_procedures.h"
#include "reshaper/paths.h"

namespace reshaper {

namespace {

using platform::Error;
namespace code = failure_code;

constexpr const char* kTitle = "Reshaper";
constexpr const char* kUsage = "Reshaper INSTALL|ERU[,QUERY][,STRUCTURE][,VERSION]";

struct RunState {
  std::string sMode;       // "INSTALL" or "ERU"; empty until a mode word is read
  std::string sShellPath;  // the shell working copy; empty until a mode word is read
  bool bQuery = false;
  bool bStructure = false;
  bool bVersion = false;
  std::optional<Database> target;
  std::optional<Database> shell;
};

std::string LogLine(const std::string& text) {
  return text + " " + platform::NowGeneralDate();
}

// Fails with `failure`: logs its message (the parameter error never is) and
// raises it with the facts for the `detail:` lines.
[[noreturn]] void Fail(long failure, const std::vector<Error::Detail>& details = {}) {
  const std::string message = FailureMessage(failure);
  if (failure != code::kParameterError) WriteLog(LogLine(message), LogPath());
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

std::vector<std::string> SplitAtCommas(const std::string& text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    words.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return words;
    start = comma + 1;
  }
}

// Copies the mode's shell database from the program folder over its working
// copy beside the target and answers the copy's path. Neither file may pair
// with a journal left by a killed process, so both are rolled back first.
std::string CopyShell(const std::string& sMode) {
  const std::string source = platform::ProgramFolder() + ShellFileName(sMode);
  const std::string copy = DatabaseFolder() + ShellFileName(sMode);
  RollBackHotJournal(source);
  RollBackHotJournal(copy);
  platform::CopyFileOver(source, copy);
  platform::SetAttributesNormal(copy);
  return copy;
}

void ReadCommandLine(const std::string& sCommandLine, RunState& state) {
  const std::vector<std::string> words = SplitAtCommas(sCommandLine);
  if (words.size() < 2) {
    Fail(code::kParameterError, {{"command line", '"' + sCommandLine + '"'},
                                 {"cause", "fewer than two words"},
                                 {"usage", kUsage}});
  }
  for (const auto& raw : words) {
    const std::string word = platform::UpperTrim(raw);
    if (word == "INSTALL" || word == "ERU") {
      state.sMode = word;
      state.sShellPath = CopyShell(word);
    } else if (word == "QUERY") {
      state.bQuery = true;
    } else if (word == "STRUCTURE") {
      state.bStructure = true;
    } else if (word == "VERSION") {
      state.bVersion = true;
    } else {
      Fail(code::kParameterError,
           {{"word", '"' + raw + '"'}, {"cause", "not a keyword"}, {"usage", kUsage}});
    }
  }
  if (state.sShellPath.empty()) {
    Fail(code::kParameterError, {{"command line", '"' + sCommandLine + '"'},
                                 {"cause", "no mode word INSTALL or ERU"},
                                 {"usage", kUsage}});
  }
}

// Queries, then structure with default data, then version, whatever the
// order of the words.
void RunSteps(RunState& state) {
  Database& target = *state.target;
  Database& shell = *state.shell;
  StepFailure failure;
  if (state.bQuery && !CreateQueries(target, shell, &failure)) {
    Fail(code::kCreatingQueries, failure.details);
  }
  if (state.bStructure) {
    if (!UpdateStructure(target, shell, state.sMode, &failure)) {
      Fail(code::kDatabaseStructure, failure.details);
    }
    if (state.sMode == "INSTALL" && !UpdateDefaultData(target, shell, &failure)) {
      Fail(code::kDefaultData, failure.details);
    }
  }
  if (state.bVersion && !UpdateVersion(target, shell, &failure)) {
    Fail(code::kSoftwareVersion, failure.details);
  }
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
  ReadCommandLine(sCommandLine, state);

  state.target = Database::Open(TargetPath());
  state.shell = Database::Open(state.sShellPath);
  RunSteps(state);
  state.target->Close();
  state.shell->Close();

  StepFailure failure;
  if (!CompactTarget(&failure)) Fail(code::kCompaction, failure.details);
  WriteMarker();
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
  return status;
}

}  // namespace reshaper
