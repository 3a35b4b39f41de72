// The properties of Assay and TestVolume by name, as one table each, in the
// order of the assay package's entries. Everything that handles the records
// property by property (package writer and reader, JSON of CatalogPackage,
// database writer) walks these tables instead of naming the properties again.
#pragma once

#include <span>
#include <string_view>

#include "catalog_sync/records/assay.h"
#include "catalog_sync/records/test_volume.h"
#include "platform/core/value.h"

namespace catalog_sync {

template <typename Record>
struct RecordProperty {
  std::string_view name;     // the property's name, as in entry names ("TestNumber")
  platform::ValueKind kind;  // the stored kind (kBoolean for the two flags)
  // The stored value as a loosely typed value of `kind`.
  platform::Value (*get)(const Record&);
  // Converts `value` to the stored kind as the package reader does and hands
  // it to the setter: fractions round half to even, out of range throws
  // "Overflow", a text that is no number "Type mismatch", null "Invalid use
  // of Null". The flags take the value unconverted (flag rule).
  void (*set)(Record&, const platform::Value& value);
};

using AssayProperty = RecordProperty<Assay>;

// How the package writer obtains a TestVolume entry.
enum class Derivation {
  kStored,           // the record's own value
  kOwnerTestNumber,  // `TestsID`: the TestNumber of the owning assay
  kPartIndex,        // `Part`: the record's part index 0..2
};

struct TestVolumeProperty : RecordProperty<TestVolume> {
  // Derived properties are written by the package writer as 16-bit integers
  // from the record's position and are not part of an authored catalogue.
  Derivation derivation;
};

// The 33 Assay properties: by name, except NumOfRepeatTests, which is last.
std::span<const AssayProperty> AssayProperties();

// The 9 TestVolume properties: TestsID, Part, ReagentVol, RegentVolKey,
// WaterToAssayB, InitWater, WaterToAssayA, WashFill, LastWash.
std::span<const TestVolumeProperty> TestVolumeProperties();

// The property of that name. Throws std::logic_error for a name the table
// lacks: a misspelt name in a caller's own table, found at its first use.
const AssayProperty& AssayPropertyNamed(std::string_view name);
const TestVolumeProperty& TestVolumePropertyNamed(std::string_view name);

}  // namespace catalog_sync
