// The catalogue (colAssay and colObjTV) as a JSON document, and back.
//
//   {"format": "corvista-catalog", "version": 1,
//    "assays": [{<the 33 assay properties>, "TestVolumes": [{..}, {..}, {..}]}]}
//
// Properties appear under their own names in the order of the package
// entries; each of the three TestVolumes objects (parts 0, 1, 2) holds the
// seven volume properties. TestsID and Part are left out: the package writer
// derives them from the position. See README.md for the kinds.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/test_volume_table.h"

namespace catalog_package {

inline constexpr const char* kFormatName = "corvista-catalog";
inline constexpr int kFormatVersion = 1;

// A catalogue document that cannot be taken as it is; what() names the
// assay (position and, when known, test number) and the property.
class CatalogJsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws CatalogJsonError for a value JSON cannot hold (a float that is not
// finite).
nlohmann::ordered_json CatalogToJson(const catalog_sync::AssayCollection& colAssay,
                                     const catalog_sync::TestVolumeTable& colObjTV);

// Fills the empty containers from the document. Every property must be
// present, known and of a value that fits its kind exactly (an integer in
// range for the integer kinds, a finite number for the floats, true/false
// for the flags, a string for texts). Throws CatalogJsonError otherwise.
void CatalogFromJson(const nlohmann::json& document, catalog_sync::AssayCollection& colAssay,
                     catalog_sync::TestVolumeTable& colObjTV);

}  // namespace catalog_package
