// The fixed paths of the upgrader, on the system drive ($SYSTEM_DRIVE), and
// the shell databases in the program's own folder.
#pragma once

#include <string>

namespace reshaper {

std::string TargetPath();      // C:\Corvista1000\Databases\Corvista1k.mdb
std::string LockFilePath();    // C:\Corvista1000\Databases\Corvista1k.ldb
std::string DatabaseFolder();  // C:\Corvista1000\Databases
std::string ScratchPath();     // C:\Corvista1000\Databases\Temp.mdb
std::string LogPath();         // C:\Corvista1000\Logs\QVRInstall.log
std::string MarkerPath();      // C:\Reshaper.txt

// "\InstallShell.mdb" or "\ERUShell.mdb" for the mode word "INSTALL" or "ERU".
std::string ShellFileName(const std::string& sMode);
// The mode's shell database in the program folder, the source of its copy.
std::string ShellSourcePath(const std::string& sMode);

}  // namespace reshaper
