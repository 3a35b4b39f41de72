// The run driver's own failure codes: raised and caught inside the driver
// only, each turned into one fixed message (none for StepFailed, whose step
// has told the operator already).
#pragma once

#include <optional>
#include <string>

#include "platform/core/error.h"
#include "platform/core/message_box.h"

namespace catalog_sync {

struct RunState;

enum class RunError {
  kBadCommand = 1,         // the keyword is neither "QVR" nor "INSTALL"
  kSourceNotFound = 2,     // sSourceFile does not exist
  kDatabaseNotFound = 3,   // sDatabaseFile does not exist
  kStepFailed = 4,         // a step reported failure and showed its own box
  kBackupNotFound = 5,     // the backup copy is missing right after the copy
  kPackageUnreadable = 6,  // ReadProperties reported failure
};

// The error's number: the platform's base of object-defined codes plus the
// code (0x80040001 to 0x80040006).
long RunErrorNumber(RunError code);

// The platform::Error that raises `code`; its details (facts for the
// operator) follow the message box.
platform::Error MakeRunError(RunError code);

// The run error that `number` stands for, if any.
std::optional<RunError> RunErrorOf(long number);

// The prompt of the message box for `code`; nothing for StepFailed.
std::optional<std::string> RunErrorPrompt(RunError code, const RunState& state);

// "The following file was not found: " followed by `path`.
std::string NotFoundPrompt(const std::string& path);

// PackageUnreadable, with the package reader's reason (`cause`, its number
// and its details) for the lines after the box.
platform::Error PackageUnreadableError(const platform::Error& cause);

// What the run driver's error step shows for `failure`, under "Catalog
// Sync": the fixed prompt of a run error with its details, the general
// prompt for any other error; nothing for StepFailed, whose step has shown
// its own box.
std::optional<platform::BoxMessage> RunFailureMessage(const platform::Error& failure,
                                                      const RunState& state);

}  // namespace catalog_sync
