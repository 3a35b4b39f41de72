// Catalogues for the record, package, writer and program tests.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "catalog_sync/records/assay.h"
#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/record_properties.h"
#include "catalog_sync/records/test_volume.h"
#include "catalog_sync/records/test_volume_table.h"

namespace testing_support {

using catalog_sync::Assay;
using catalog_sync::AssayCollection;
using catalog_sync::TestVolume;
using catalog_sync::TestVolumeTable;

struct Catalog {
  AssayCollection assays;
  TestVolumeTable volumes;
};

// n assays, every property differing between assays and from its default (non-ASCII texts,
// -0.0, a subnormal single, both flags); volumes' TestsID and Part differ from the owner's
// TestNumber and the part index. `adjust` changes assay i before it is added.
Catalog SampleCatalog(std::int16_t n,
                      const std::function<void(std::int16_t i, Assay&)>& adjust = {});
// The same assays in the same order, every property of the same kind and value (floats bit
// for bit), volumes equal in their stored properties (TestsID and Part only `with_derived`).
void ExpectSameCatalog(const Catalog& expected, const Catalog& actual, bool with_derived);

// Every property a value of its own, derived from the test number, that fits the example schema.
Assay MakeAssay(std::int16_t nTestNumber, std::string_view name, std::string_view mode);
// The volumes of one part: ReagentVol as given, the others derived from it.
TestVolume MakeVolume(std::int32_t reagent_vol);

// Assays from MakeAssay with volumes of the given ReagentVol; references live until Build.
class CatalogBuilder {
 public:
  Assay& Add(std::int16_t nTestNumber, std::string_view name, std::string_view mode,
             std::array<std::int32_t, 3> reagent_vols = {100, 0, 0});
  Catalog Build() const;
  void WritePackage(const std::string& path) const;  // as the package file `path`

 private:
  std::deque<Assay> assays_;
  std::deque<std::array<TestVolume, 3>> volumes_;
};

}  // namespace testing_support
