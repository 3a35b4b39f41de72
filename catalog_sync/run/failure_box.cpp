#include "catalog_sync/run/failure_box.h"

#include <new>

namespace catalog_sync {

namespace {

constexpr long kOutOfMemory = 7;
constexpr long kInternalError = 51;

}  // namespace

std::string GeneralPrompt(const platform::Error& error) {
  return "An unexpected error occurred while running the Catalog Sync.\r\n" +
         platform::ErrorNumberLine(error.number(), error.description());
}

platform::BoxMessage UnexpectedErrorMessage(const std::string& title, const platform::Error& error,
                                            const std::vector<platform::Error::Detail>& leading) {
  platform::BoxMessage message{title, GeneralPrompt(error), leading};
  message.details.insert(message.details.end(), error.details().begin(), error.details().end());
  return message;
}

void ShowUnexpectedError(const std::string& title, const platform::Error& error,
                         const std::vector<platform::Error::Detail>& leading) {
  platform::ShowBox(UnexpectedErrorMessage(title, error, leading), platform::kCriticalOkOnly);
}

platform::Error AsPlatformError(const std::exception& failure) {
  if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
    return platform::Error(kOutOfMemory, "Out of memory");
  }
  return platform::Error(kInternalError, "Internal error").AddDetail("cause", failure.what());
}

platform::Error CurrentFailure() {
  try {
    throw;
  } catch (const platform::Error& failure) {
    return failure;
  } catch (const std::exception& failure) {
    return AsPlatformError(failure);
  }
}

}  // namespace catalog_sync
