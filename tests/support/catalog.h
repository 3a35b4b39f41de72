// Catalogues for the record, package, writer and program tests: one
// builder of realistic assays, and a sample whose every property differs.
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

// An assay whose every property has a value of its own (derived from the
// test number) that fits the example schema.
Assay MakeAssay(std::int16_t nTestNumber, std::string_view name, std::string_view mode);

// The volumes of one part: ReagentVol as given, the others derived from it.
TestVolume MakeVolume(std::int32_t reagent_vol);

// Builds a catalogue assay by assay; references stay valid until Build.
class CatalogBuilder {
 public:
  // An assay from MakeAssay with part volumes of the given ReagentVol.
  Assay& Add(std::int16_t nTestNumber, std::string_view name, std::string_view mode,
             std::array<std::int32_t, 3> reagent_vols = {100, 0, 0});
  TestVolume& Volume(std::int32_t position, std::int32_t part);
  Catalog Build() const;
  // Writes the catalogue as the package file `path`.
  void WritePackage(const std::string& path) const;

 private:
  std::deque<Assay> assays_;
  std::deque<std::array<TestVolume, 3>> volumes_;
};

}  // namespace testing_support
