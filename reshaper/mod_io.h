// modIO: the install log.
#pragma once

#include <string>

namespace reshaper {

// Appends `sText` and CR LF to the log at `sLogPath` with one write on an
// O_APPEND descriptor, so lines already in the log are never lost or
// overwritten and each line is in the file when this returns. Creates the
// file when missing, never its folder. Answers false, reporting nothing, when
// the line could not be written (folder missing, file read-only, disk full).
bool WriteLog(std::string sText, const std::string& sLogPath);

}  // namespace reshaper
