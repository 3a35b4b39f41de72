#include "bench/catalog_install/bench_catalogue.h"

#include <cstdint>
#include <string>

namespace bench {

namespace {

using catalog_sync::Assay;
using catalog_sync::TestVolume;
using platform::Value;

Assay BenchAssay(std::int16_t number) {
  const int n = number;
  Assay a;
  a.SetMode("ADD");
  a.SetTestNumber(number);
  a.SetTestName("T" + std::to_string(n));
  a.SetTestFullName("Benchmark test number " + std::to_string(n));
  a.SetDefaultUnits("mg/dL");
  a.SetAlternateUnits("mmol/L");
  a.SetConversionFactor(0.0555);
  a.SetCalibrationFreq(30);
  a.SetAssayLow(n % 7);
  a.SetAssayMax(500 + n % 100);
  a.SetNormalLow(70);
  a.SetNormalHigh(105 + n % 10);
  a.SetFormula(static_cast<std::int16_t>(1 + n % 4));
  a.SetNumOfReagents(static_cast<std::int16_t>(1 + n % 3));
  a.SetRoundOffMethod(2);
  a.SetLowCV(0.5);
  a.SetHighCV(5);
  a.SetColor(0xFF0000 + n);
  a.SetDilutionRequired(n % 2);
  a.SetDilutionFactor(n % 5);
  a.SetDiluentID(n % 3);
  a.SetDiluteControl(Value(n % 2 == 0));
  a.SetNumOfCalibrators(2);
  a.SetNumOfReplicates(2);
  a.SetCycles(10);
  a.SetMaxSlope(1.5);
  a.SetMinSlope(0.25);
  a.SetActive(Value(true));
  a.SetSampleVol(2.5f);
  a.SetSampleVolKey(1);
  a.SetP5(0.125);
  a.SetP6(0.5);
  a.SetNumOfRepeatTests(1);
  return a;
}

TestVolume BenchVolume(std::int16_t number, std::int32_t part, bool in_use) {
  TestVolume v;
  v.SetTestsID(number);
  v.SetPart(static_cast<std::uint8_t>(part));
  v.SetReagentVol(in_use ? 100 + 10 * part : 0);
  v.SetRegentVolKey(11 + 10 * part);
  v.SetWaterToAssayB(20);
  v.SetInitWater(15);
  v.SetWaterToAssayA(25);
  v.SetWashFill(120);
  v.SetLastWash(80);
  return v;
}

}  // namespace

void BuildCatalogue(int count, catalog_sync::AssayCollection& colAssay,
                    catalog_sync::TestVolumeTable& colObjTV) {
  colObjTV.Dimension(static_cast<std::int16_t>(count));
  for (int i = 1; i <= count; ++i) {
    const auto number = static_cast<std::int16_t>(i);
    colAssay.Add(BenchAssay(number));
    for (std::int32_t part = 0; part < catalog_sync::TestVolumeTable::kParts; ++part) {
      colObjTV.Set(i, part, BenchVolume(number, part, part <= i % 3));
    }
  }
}

}  // namespace bench
