#include "reshaper/mod_io.h"

#include <exception>

#include "platform/core/files.h"

namespace reshaper {

bool WriteLog(std::string sText, const std::string& sLogPath) {
  sText += "\r\n";
  try {
    platform::AppendToFile(sLogPath, sText);
    return true;
  } catch (const std::exception&) {
    // A log that cannot be written must not stop the run; the caller goes on.
    return false;
  }
}

}  // namespace reshaper
