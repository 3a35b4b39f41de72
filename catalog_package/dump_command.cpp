#include <iostream>

#include "catalog_package/catalog_json.h"
#include "catalog_package/commands.h"
#include "catalog_sync/records/file_manager.h"
#include "platform/core/error.h"
#include "platform/core/message_box.h"

namespace catalog_package {

int RunDump(const Arguments& args) {
  if (args.size() != 1) return 2;
  const std::string& package = args[0];
  catalog_sync::AssayCollection colAssay;
  catalog_sync::TestVolumeTable colObjTV;
  platform::Error failure(0, "");
  if (!catalog_sync::FileManager(package).ReadProperties(colAssay, colObjTV, &failure)) {
    ReportFailure("cannot read the package " + package + ": " +
                  platform::ErrorNumberLine(failure.number(), failure.description()));
    platform::WriteDetails(failure);
    return 1;
  }
  try {
    std::cout << CatalogToJson(colAssay, colObjTV).dump(2) << '\n';
  } catch (const CatalogJsonError& e) {
    ReportFailure(package + ": " + e.what());
    return 1;
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}

}  // namespace catalog_package
