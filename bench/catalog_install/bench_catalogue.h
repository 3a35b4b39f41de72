// The catalogue of the benchmarks: assays numbered 1..count, all "ADD",
// every property set, each with one to three reagent parts in use.
#pragma once

#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/test_volume_table.h"

namespace bench {

// REQUIRES: colAssay empty, 1 <= count <= 32,766. Dimensions colObjTV.
void BuildCatalogue(int count, catalog_sync::AssayCollection& colAssay,
                    catalog_sync::TestVolumeTable& colObjTV);

}  // namespace bench
