// Catalogues for the record and package tests.
#pragma once

#include <cstdint>
#include <functional>

#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/record_properties.h"
#include "catalog_sync/records/test_volume_table.h"

namespace catalog_sync::testing {

struct Catalog {
  AssayCollection assays;
  TestVolumeTable volumes;
};

// n assays whose every property differs from assay to assay and from its
// default (texts with non-ASCII letters, negative zero, a subnormal single,
// both flag values). TestsID and Part of the volumes deliberately hold values
// other than the owner's TestNumber and the part index.
// `adjust`, when given, changes assay i before it is added.
Catalog SampleCatalog(std::int16_t n,
                      const std::function<void(std::int16_t i, Assay&)>& adjust = {});

// Expects the same assays in the same order, every property of the same kind
// and value (floats bit for bit), and volumes equal in their stored
// properties. TestsID and Part are compared only when `with_derived`.
void ExpectSameCatalog(const Catalog& expected, const Catalog& actual, bool with_derived);

}  // namespace catalog_sync::testing
