// The assay package file: a whole catalogue stored as one serialised
// PropertyBag (see catalog_bag.h for its entries, package_format.h for its
// bytes), written by a run that read the workbook and read by later runs.
//
// A FileManager holds nothing but the path; each call opens the file, makes
// its one transfer and closes it again.
#pragma once

#include <string>
#include <string_view>

#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/test_volume_table.h"
#include "platform/core/error.h"

namespace catalog_sync {

class FileManager {
 public:
  // The run passes the package beside the program (catalog_sync/run/paths.h).
  explicit FileManager(std::string package_path);

  const std::string& PackagePath() const { return path_; }

  // Appends the package's assays to colAssay (which the caller passes empty)
  // and sizes and fills colObjTV. Traps every failure: false when the file
  // is missing, empty or damaged, an entry is missing or does not convert,
  // or the count is below 1 or above 32,766. What was read before a failure
  // stays in the containers. When `failure` is given, a false result leaves
  // the cause there (number, description and details, the path included).
  bool ReadProperties(AssayCollection& colAssay, TestVolumeTable& colObjTV,
                      platform::Error* failure = nullptr) const;

  // Replaces the package with the catalogue in the two containers. Throws
  // platform::Error (too many assays, a cell without a record, a file that
  // cannot be written); the old package then stays as it was.
  void WriteProperties(const AssayCollection& colAssay, const TestVolumeTable& colObjTV) const;

  // Replaces the package file with `block`; a read-only old file is replaced
  // too. Throws platform::Error.
  void SavePackage(std::string_view block) const;

  // The block held in the package file. Throws platform::Error ("File not
  // found" for a missing file, "Invalid file format" for a file whose size
  // and header show that it holds no block, before its body is read).
  std::string LoadPackage() const;

 private:
  std::string path_;
};

}  // namespace catalog_sync
