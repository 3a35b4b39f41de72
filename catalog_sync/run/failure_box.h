// The general failure message of CatalogSync: "An unexpected error occurred
// while running the Catalog Sync." then CR LF and "Error Number: <n>
// <description>", in a critical-stop box under the caller's title.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/message_box.h"

namespace catalog_sync {

std::string GeneralPrompt(const platform::Error& error);

// The general box under `title`, with one `detail:` line for each of
// `leading` and then for each of the error's own details.
platform::BoxMessage UnexpectedErrorMessage(
    const std::string& title, const platform::Error& error,
    const std::vector<platform::Error::Detail>& leading = {});

// Shows UnexpectedErrorMessage in a critical-stop box.
void ShowUnexpectedError(const std::string& title, const platform::Error& error,
                         const std::vector<platform::Error::Detail>& leading = {});

// A failure that is not a platform::Error as one: "Out of memory" (7) for an
// allocation failure, "Internal error" (51) with the cause as a detail for
// anything else.
platform::Error AsPlatformError(const std::exception& failure);

// The exception being handled, as a platform::Error (through AsPlatformError
// for a standard exception); rethrows anything else.
// REQUIRES: called from a catch block.
platform::Error CurrentFailure();

}  // namespace catalog_sync
