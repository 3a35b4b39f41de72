// How a whole catalogue (the assay collection and the test-volume table)
// is laid out in a PropertyBag: the entries of the assay package file.
//
//   "nAssayCount"                    long, the number of assays n
//   <assay property><i>              for i = 1..n, the 33 AssayProperties()
//   <volume property><i><j>          then for j = 0..2 the 9
//                                    TestVolumeProperties()
//
// so a bag of n assays holds 1 + 60 n entries. TestsID and Part are derived
// from the position (the assay's TestNumber, j) and written as integers; the
// values held in the TestVolume records are not consulted.
#pragma once

#include <cstdint>

#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/property_bag.h"
#include "catalog_sync/records/test_volume_table.h"

namespace catalog_sync {

// The assay position is a 16-bit counter that must be able to step past the
// last assay, so a catalogue holds at most 32,766 assays.
inline constexpr std::int32_t kMaxAssayCount = 32766;

// The bag of the catalogue. Throws platform::Error: "Overflow" for more than
// kMaxAssayCount assays, "Subscript out of range" when colObjTV has fewer
// assay positions than colAssay, kObjectNotSet for a cell without a record.
PropertyBag CatalogToBag(const AssayCollection& colAssay, const TestVolumeTable& colObjTV);

// Appends the bag's assays to colAssay and sizes and fills colObjTV, each
// entry converted as its property's setter needs. Throws platform::Error on
// the first entry that is missing or does not convert (with the entry's name
// and value as details), on a count above kMaxAssayCount ("Overflow") and on
// a count below 1 ("Subscript out of range"); what was read before the
// failure stays in the containers.
void CatalogFromBag(const PropertyBag& bag, AssayCollection& colAssay, TestVolumeTable& colObjTV);

}  // namespace catalog_sync
