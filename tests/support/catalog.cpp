// Catalogues of a test: the sample catalogue, assays and volumes made to measure, packages.
#include "tests/support/catalog.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <limits>
#include <optional>
#include <string>

#include "catalog_sync/records/file_manager.h"

namespace testing_support {

using platform::Value;

Catalog SampleCatalog(std::int16_t n, const std::function<void(std::int16_t i, Assay&)>& adjust) {
  Catalog c;
  c.volumes.Dimension(n);
  for (std::int16_t i = 1; i <= n; ++i) {
    const std::string tag = std::to_string(i);
    Assay a;
    a.SetNumOfRepeatTests(-100000 - i);
    a.SetP5(i * 0.1);
    a.SetP6(i % 2 ? -0.0 : 1e-300);
    a.SetMode(i % 3 == 0 ? "delete" : i % 2 ? " add " : "Modify");
    a.SetTestNumber(static_cast<std::int16_t>(i % 2 ? 100 + i : -i));
    a.SetTestName("T" + tag);
    a.SetTestFullName("Test n\u00b0 " + tag + " \u00e9");
    a.SetDefaultUnits("\u00b5mol/L");
    a.SetAlternateUnits("mg/dL" + tag);
    a.SetConversionFactor(1.0 / (i + 2));
    a.SetCalibrationFreq(i * 7);
    a.SetAssayLow(-i);
    a.SetAssayMax(std::numeric_limits<double>::max() / i);
    a.SetNormalLow(3.9 + i);
    a.SetNormalHigh(6.1 + i);
    a.SetFormula(static_cast<std::int16_t>(-32768 + i));
    a.SetNumOfReagents(static_cast<std::int16_t>(1 + i % 3));
    a.SetRoundOffMethod(static_cast<std::int16_t>(32767 - i));
    a.SetLowCV(i * 0.5);
    a.SetHighCV(i * 1.5);
    a.SetColor(0xFF0000 + i);
    a.SetDilutionRequired(i % 2);
    a.SetDilutionFactor(i + 10);
    a.SetDiluentID(-i);
    a.SetDiluteControl(Value(i % 2 == 0));
    a.SetNumOfCalibrators(static_cast<std::uint8_t>(255 - i % 200));
    a.SetNumOfReplicates(static_cast<std::uint8_t>(i % 256));
    a.SetCycles(static_cast<std::uint8_t>(i % 7 + 1));
    a.SetMaxSlope(1e10 * i);
    a.SetMinSlope(-1e-10 * i);
    a.SetActive(Value(i % 2 == 1));
    a.SetSampleVol(i % 2 ? 2.5f + static_cast<float>(i) : std::numeric_limits<float>::denorm_min());
    a.SetSampleVolKey(i * 3);
    if (adjust) adjust(i, a);
    c.assays.Add(a);
    for (std::int32_t part = 0; part < TestVolumeTable::kParts; ++part) {
      TestVolume v;
      v.SetTestsID(9999);
      v.SetPart(7);
      v.SetReagentVol(part == 2 ? 0 : i * 10 + part);
      v.SetRegentVolKey(i * 100 + part);
      v.SetWaterToAssayB(-i);
      v.SetInitWater(i + part);
      v.SetWaterToAssayA(2147483647 - i);
      v.SetWashFill(-2147483647 - 1 + i);
      v.SetLastWash(part);
      c.volumes.Set(i, part, v);
    }
  }
  return c;
}

void ExpectSameCatalog(const Catalog& expected, const Catalog& actual, bool with_derived) {
  ASSERT_EQ(expected.assays.Count(), actual.assays.Count());
  ASSERT_EQ(expected.volumes.Size(), actual.volumes.Size());
  for (std::int32_t i = 1; i <= expected.assays.Count(); ++i) {
    for (const catalog_sync::AssayProperty& p : catalog_sync::AssayProperties()) {
      const Value want = p.get(expected.assays.Item(i));
      const Value got = p.get(actual.assays.Item(i));
      EXPECT_TRUE(want.SameAs(got))
          << "assay " << i << " " << p.name << ": " << want.Describe() << " vs " << got.Describe();
    }
    for (std::int32_t part = 0; part < TestVolumeTable::kParts; ++part) {
      for (const auto& p : catalog_sync::TestVolumeProperties()) {
        if (!with_derived && p.derivation != catalog_sync::Derivation::kStored) continue;
        const Value want = p.get(expected.volumes.At(i, part));
        const Value got = p.get(actual.volumes.At(i, part));
        EXPECT_TRUE(want.SameAs(got)) << "volume (" << i << ", " << part << ") " << p.name << ": "
                                      << want.Describe() << " vs " << got.Describe();
      }
    }
  }
}

Assay MakeAssay(std::int16_t nTestNumber, std::string_view name, std::string_view mode) {
  const int n = nTestNumber;
  Assay a;
  a.SetTestNumber(nTestNumber);
  a.SetTestName(std::string(name));
  a.SetMode(mode);
  a.SetTestFullName("Full name of " + std::string(name));
  a.SetDefaultUnits("mg/dL");
  a.SetAlternateUnits("mmol/L");
  a.SetConversionFactor(0.05 + n / 1000.0);
  a.SetCalibrationFreq(7 + n);
  a.SetAssayLow(n / 10.0);
  a.SetAssayMax(500 + n);
  a.SetNormalLow(10 + n);
  a.SetNormalHigh(90 + n);
  a.SetFormula(static_cast<std::int16_t>(1 + n % 5));
  a.SetNumOfReagents(2);
  a.SetRoundOffMethod(static_cast<std::int16_t>(n % 4));
  a.SetLowCV(1.5);
  a.SetHighCV(4.5 + n);
  a.SetColor(0x00FF00 + n);
  a.SetDilutionRequired(n % 2);
  a.SetDilutionFactor(3 + n);
  a.SetDiluentID(20 + n);
  a.SetDiluteControl(Value(n % 2 == 0));
  a.SetNumOfCalibrators(static_cast<std::uint8_t>(2 + n % 5));
  a.SetNumOfReplicates(3);
  a.SetCycles(static_cast<std::uint8_t>(10 + n % 20));
  a.SetMaxSlope(2.25);
  a.SetMinSlope(-0.75);
  a.SetActive(Value(true));
  a.SetSampleVol(2.5f + static_cast<float>(n % 3));
  a.SetSampleVolKey(40 + n);
  a.SetP5(0.125 * n);
  a.SetP6(-0.5 * n);
  a.SetNumOfRepeatTests(1 + n % 3);
  return a;
}

TestVolume MakeVolume(std::int32_t reagent_vol) {
  TestVolume v;
  v.SetReagentVol(reagent_vol);
  v.SetRegentVolKey(reagent_vol / 10 + 1);
  v.SetWaterToAssayB(reagent_vol + 1);
  v.SetInitWater(reagent_vol + 2);
  v.SetWaterToAssayA(reagent_vol + 3);
  v.SetWashFill(reagent_vol + 4);
  v.SetLastWash(reagent_vol + 5);
  return v;
}

Assay& CatalogBuilder::Add(std::int16_t nTestNumber, std::string_view name, std::string_view mode,
                           std::array<std::int32_t, 3> reagent_vols) {
  std::array<TestVolume, 3>& parts = volumes_.emplace_back();
  for (std::size_t part = 0; part < parts.size(); ++part) {
    parts[part] = MakeVolume(reagent_vols[part]);
    parts[part].SetTestsID(nTestNumber);
    parts[part].SetPart(static_cast<std::uint8_t>(part));
  }
  return assays_.emplace_back(MakeAssay(nTestNumber, name, mode));
}

Catalog CatalogBuilder::Build() const {
  Catalog c;
  if (assays_.empty()) return c;
  c.volumes.Dimension(static_cast<std::int16_t>(assays_.size()));
  for (std::int32_t i = 1; i <= static_cast<std::int32_t>(assays_.size()); ++i) {
    c.assays.Add(assays_[i - 1]);
    for (std::int32_t part = 0; part < 3; ++part) c.volumes.Set(i, part, volumes_[i - 1][part]);
  }
  return c;
}

void CatalogBuilder::WritePackage(const std::string& path) const {
  const Catalog c = Build();
  catalog_sync::FileManager(path).WriteProperties(c.assays, c.volumes);
}

}  // namespace testing_support
