// The fixed files of a CatalogSync run, as Linux paths under $SYSTEM_DRIVE
// and the program folder.
#pragma once

#include <string>

namespace catalog_sync {

// C:\Corvista1000\Databases\Corvista1k.mdb
std::string DatabasePath();
// C:\Corvista1000\Databases\Temp_Corvista1k.mdb
std::string BackupPath();
// C:\ followed by the executable's base name and ".txt".
std::string MarkerPath();
// The program folder followed by "/CatalogSync.xls" and "/CatalogSync.dat".
std::string WorkbookPath();
std::string PackagePath();

}  // namespace catalog_sync
