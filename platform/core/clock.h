// The current local date and time as the general date text,
// "YYYY-MM-DD HH:MM:SS".
#pragma once

#include <string>

namespace platform {

std::string NowGeneralDate();

}  // namespace platform
