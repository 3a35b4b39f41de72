#include "catalog_sync/records/record_properties.h"

#include <array>
#include <stdexcept>
#include <string>

namespace catalog_sync {

namespace {

using platform::Value;
using platform::ValueKind;

// The package reader's conversion to each stored kind.
template <ValueKind Kind>
auto ConvertTo(const Value& v) {
  if constexpr (Kind == ValueKind::kBoolean) {
    return v;  // the setter applies the flag rule to the value as it is
  } else if constexpr (Kind == ValueKind::kByte) {
    return v.ToByte();
  } else if constexpr (Kind == ValueKind::kInteger) {
    return v.ToInteger();
  } else if constexpr (Kind == ValueKind::kLong) {
    return v.ToLong();
  } else if constexpr (Kind == ValueKind::kSingle) {
    return v.ToSingle();
  } else if constexpr (Kind == ValueKind::kDouble) {
    return v.ToDouble();
  } else {
    static_assert(Kind == ValueKind::kText);
    return v.ToText();
  }
}

// One table row: the name, the kind, a getter and a converting setter.
#define RECORD_PROPERTY(Record, Name, Kind)               \
#Name, ValueKind::Kind,                                 \
      [](const Record&                                    \
             r) { return Value(r.Name()); },              \
                                          [](Record & r,  \
                                             const Value& \
                                                 v) { r.Set##Name(ConvertTo<ValueKind::Kind>(v)); }

#define ASSAY(Name, Kind)              \
  AssayProperty {                      \
    RECORD_PROPERTY(Assay, Name, Kind) \
  }
#define VOLUME(Name, Kind, Derived)                                \
  TestVolumeProperty {                                             \
    {RECORD_PROPERTY(TestVolume, Name, Kind)}, Derivation::Derived \
  }

constexpr std::array kAssayProperties = {
    ASSAY(Active, kBoolean),
    ASSAY(AlternateUnits, kText),
    ASSAY(AssayLow, kDouble),
    ASSAY(AssayMax, kDouble),
    ASSAY(CalibrationFreq, kLong),
    ASSAY(Color, kLong),
    ASSAY(ConversionFactor, kDouble),
    ASSAY(Cycles, kByte),
    ASSAY(DefaultUnits, kText),
    ASSAY(DiluentID, kLong),
    ASSAY(DiluteControl, kBoolean),
    ASSAY(DilutionFactor, kLong),
    ASSAY(DilutionRequired, kLong),
    ASSAY(Formula, kInteger),
    ASSAY(HighCV, kDouble),
    ASSAY(LowCV, kDouble),
    ASSAY(MaxSlope, kDouble),
    ASSAY(MinSlope, kDouble),
    ASSAY(Mode, kText),
    ASSAY(NormalHigh, kDouble),
    ASSAY(NormalLow, kDouble),
    ASSAY(NumOfCalibrators, kByte),
    ASSAY(NumOfReagents, kInteger),
    ASSAY(NumOfReplicates, kByte),
    ASSAY(P5, kDouble),
    ASSAY(P6, kDouble),
    ASSAY(RoundOffMethod, kInteger),
    ASSAY(SampleVol, kSingle),
    ASSAY(SampleVolKey, kLong),
    ASSAY(TestFullName, kText),
    ASSAY(TestName, kText),
    ASSAY(TestNumber, kInteger),
    ASSAY(NumOfRepeatTests, kLong),
};
static_assert(kAssayProperties.size() == 33);

constexpr std::array kTestVolumeProperties = {
    VOLUME(TestsID, kLong, kOwnerTestNumber), VOLUME(Part, kByte, kPartIndex),
    VOLUME(ReagentVol, kLong, kStored),       VOLUME(RegentVolKey, kLong, kStored),
    VOLUME(WaterToAssayB, kLong, kStored),    VOLUME(InitWater, kLong, kStored),
    VOLUME(WaterToAssayA, kLong, kStored),    VOLUME(WashFill, kLong, kStored),
    VOLUME(LastWash, kLong, kStored),
};
static_assert(kTestVolumeProperties.size() == 9);

#undef VOLUME
#undef ASSAY
#undef RECORD_PROPERTY

}  // namespace

std::span<const AssayProperty> AssayProperties() {
  return kAssayProperties;
}

std::span<const TestVolumeProperty> TestVolumeProperties() {
  return kTestVolumeProperties;
}

namespace {

template <typename Property>
const Property& Named(std::span<const Property> table, std::string_view name) {
  for (const Property& p : table) {
    if (p.name == name) return p;
  }
  throw std::logic_error("no record property named " + std::string(name));
}

}  // namespace

const AssayProperty& AssayPropertyNamed(std::string_view name) {
  return Named(AssayProperties(), name);
}

const TestVolumeProperty& TestVolumePropertyNamed(std::string_view name) {
  return Named(TestVolumeProperties(), name);
}

}  // namespace catalog_sync
