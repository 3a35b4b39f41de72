#include "reshaper/paths.h"

#include "platform/core/files.h"

namespace reshaper {

std::string TargetPath() {
  return platform::SystemPath("C:\\Corvista1000\\Databases\\Corvista1k.mdb");
}

std::string LockFilePath() {
  return platform::SystemPath("C:\\Corvista1000\\Databases\\Corvista1k.ldb");
}

std::string DatabaseFolder() {
  return platform::SystemPath("C:\\Corvista1000\\Databases");
}

std::string ScratchPath() {
  return platform::SystemPath("C:\\Corvista1000\\Databases\\Temp.mdb");
}

std::string LogPath() {
  return platform::SystemPath("C:\\Corvista1000\\Logs\\QVRInstall.log");
}

std::string MarkerPath() {
  return platform::SystemPath("C:\\Reshaper.txt");
}

std::string ShellFileName(const std::string& sMode) {
  return sMode == "ERU" ? "/ERUShell.mdb" : "/InstallShell.mdb";
}

std::string ShellSourcePath(const std::string& sMode) {
  return platform::ProgramFolder() + ShellFileName(sMode);
}

}  // namespace reshaper
