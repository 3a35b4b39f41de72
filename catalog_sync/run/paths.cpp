#include "catalog_sync/run/paths.h"

#include "platform/core/files.h"

namespace catalog_sync {

std::string DatabasePath() {
  return platform::SystemPath("C:\\Corvista1000\\Databases\\Corvista1k.mdb");
}

std::string BackupPath() {
  return platform::SystemPath("C:\\Corvista1000\\Databases\\Temp_Corvista1k.mdb");
}

std::string MarkerPath() {
  return platform::SystemPath("C:\\" + platform::ProgramBaseName() + ".txt");
}

std::string WorkbookPath() {
  return platform::ProgramFolder() + "/CatalogSync.xls";
}

std::string PackagePath() {
  return platform::ProgramFolder() + "/CatalogSync.dat";
}

}  // namespace catalog_sync
