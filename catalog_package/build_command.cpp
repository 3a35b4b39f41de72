#include <nlohmann/json.hpp>

#include "catalog_package/catalog_json.h"
#include "catalog_package/commands.h"
#include "catalog_sync/records/file_manager.h"
#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/message_box.h"

namespace catalog_package {

// The whole document is read and checked before the package is touched, and
// the package is replaced atomically, so a failure writes nothing.
int RunBuild(const Arguments& args) {
  if (args.size() != 2) return 2;
  const std::string& source = args[0];
  const std::string& package = args[1];
  try {
    const nlohmann::json document = nlohmann::json::parse(platform::ReadWholeFile(source));
    catalog_sync::AssayCollection colAssay;
    catalog_sync::TestVolumeTable colObjTV;
    CatalogFromJson(document, colAssay, colObjTV);
    catalog_sync::FileManager(package).WriteProperties(colAssay, colObjTV);
    return 0;
  } catch (const nlohmann::json::parse_error& e) {
    ReportFailure(source + ": not valid JSON: " + e.what());
  } catch (const CatalogJsonError& e) {
    ReportFailure(source + ": " + e.what());
  } catch (const platform::Error& e) {
    ReportFailure(platform::ErrorNumberLine(e.number(), e.description()));
    platform::WriteDetails(e);
  }
  return 1;
}

}  // namespace catalog_package
