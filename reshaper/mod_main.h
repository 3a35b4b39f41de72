// modMain: the upgrade driver. One straight run: log the start, remove an old
// completion marker, check the target and its lock file, read the command
// line and copy the chosen shell database beside the target, open both
// databases, run the requested steps in the fixed order queries, structure
// (with default data in mode "INSTALL"), version, close both, compact, write
// the marker, and clean up, on success and after a failure alike.
#pragma once

#include <string>

#include "platform/core/error.h"

namespace reshaper {

// The driver's failure codes, raised as application error numbers. Code 5 is
// never raised.
namespace failure_code {
inline constexpr long kParameterError = platform::err::kObjectErrorBase + 1;
inline constexpr long kCreatingFile = platform::err::kObjectErrorBase + 2;
inline constexpr long kCreatingQueries = platform::err::kObjectErrorBase + 3;
inline constexpr long kTargetMissing = platform::err::kObjectErrorBase + 4;
inline constexpr long kSoftwareVersion = platform::err::kObjectErrorBase + 6;
inline constexpr long kDatabaseStructure = platform::err::kObjectErrorBase + 7;
inline constexpr long kDefaultData = platform::err::kObjectErrorBase + 8;
inline constexpr long kCompaction = platform::err::kObjectErrorBase + 9;
inline constexpr long kDatabaseLocked = platform::err::kObjectErrorBase + 10;
}  // namespace failure_code

// The fixed message of a failure code (log line and message box); nullptr
// for every other number, which is an unexpected error.
const char* FailureMessage(long number);

inline constexpr const char* kUnexpectedErrorMessage =
    "An Unexpected Error Occured While Updating the Database. Reshaper Aborted";

// Runs the upgrade for the whole argument string `sCommandLine` (words
// separated by ","; quotation marks are part of the words). Returns the exit
// status: 0 success (marker written), 1 failure shown in a message box, 2 the
// command line was refused.
int Main(const std::string& sCommandLine);

}  // namespace reshaper
