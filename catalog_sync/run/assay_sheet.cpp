#include "catalog_sync/run/assay_sheet.h"

#include <array>

namespace catalog_sync {

namespace {

constexpr int kC = 3, kD = 4, kE = 5, kH = 8;
constexpr CellConversion kKind = CellConversion::kPropertyKind;
constexpr CellConversion kUpperTrimmed = CellConversion::kUpperTrimmedText;

constexpr auto kAssayCells = std::to_array<AssayCell>({
    {{1, 2}, "TestName", kKind},
    {{2, kD}, "Mode", kUpperTrimmed},
    {{7, kH}, "TestFullName", kKind},
    {{8, kH}, "DefaultUnits", kKind},
    {{9, kH}, "AlternateUnits", kKind},
    {{10, kH}, "ConversionFactor", kKind},
    {{11, kH}, "CalibrationFreq", kKind},
    {{12, kH}, "AssayLow", kKind},
    {{13, kH}, "AssayMax", kKind},
    {{14, kH}, "NormalLow", kKind},
    {{15, kH}, "NormalHigh", kKind},
    {{16, kH}, "Formula", kKind},
    {{17, kH}, "NumOfReagents", kKind},
    {{18, kH}, "RoundOffMethod", kKind},
    {{19, kH}, "LowCV", kKind},
    {{20, kH}, "HighCV", kKind},
    {{21, kH}, "Color", kKind},
    {{22, kH}, "DilutionRequired", kKind},
    {{23, kH}, "DilutionFactor", kKind},
    {{24, kH}, "DiluentID", kKind},
    {{25, kH}, "DiluteControl", kUpperTrimmed},
    {{26, kH}, "NumOfCalibrators", kKind},
    {{27, kH}, "NumOfReplicates", kKind},
    {{28, kH}, "Cycles", kKind},
    {{29, kH}, "MaxSlope", kKind},
    {{30, kH}, "MinSlope", kKind},
    {{31, kH}, "Active", kUpperTrimmed},
    {{5, kE}, "SampleVol", kKind},
    {{5, kC}, "SampleVolKey", kKind},
    {{32, kH}, "P5", kKind},
    {{33, kH}, "P6", kKind},
    {{34, kH}, "NumOfRepeatTests", kKind},
});
// Every Assay property but TestNumber, which comes from B2.
static_assert(kAssayCells.size() == 32);

constexpr auto kVolumeCells = std::to_array<VolumeCell>({
    {6, kE, "ReagentVol"},
    {6, kC, "RegentVolKey"},
    {9, kC, "WaterToAssayB"},
    {12, kC, "InitWater"},
    {15, kC, "WaterToAssayA"},
    {18, kC, "WashFill"},
    {24, kC, "LastWash"},
});
// Every TestVolume property but TestsID and Part, which the position gives.
static_assert(kVolumeCells.size() == 7);

}  // namespace

std::string A1Reference(SheetCell cell) {
  std::string letters;
  for (int n = cell.column; n > 0; n = (n - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  }
  return letters + std::to_string(cell.row);
}

std::span<const AssayCell> AssayCells() {
  return kAssayCells;
}

std::span<const VolumeCell> VolumeCells() {
  return kVolumeCells;
}

}  // namespace catalog_sync
