// Where an assay sheet of the assay workbook holds its assay: the cells the
// workbook import reads, in the order it reads them. Sheet 1 of the workbook
// is never read; every later sheet holds one assay. Nothing marks the end of
// the data, and no other cell of a sheet is read.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace catalog_sync {

// Row and column counted from 1, as the spreadsheet counts them.
struct SheetCell {
  int row;
  int column;
};

// "H11" for (11, 8).
std::string A1Reference(SheetCell cell);

// B2: the sheet's test number, read first and held for the rest of the
// sheet (it becomes TestNumber after D2, and TestsID of the volumes).
inline constexpr SheetCell kTestNumberCell{2, 2};

// How a cell's value reaches its property.
enum class CellConversion {
  kPropertyKind,      // converted to the property's stored kind
  kUpperTrimmedText,  // turned into text, upper-cased, trimmed, then handed
                      // over as a text value (the flags apply their rule to it)
};

// One Assay property and its cell.
struct AssayCell {
  SheetCell cell;
  std::string_view property;  // an AssayProperties() name
  CellConversion conversion;
};

// The Assay cells after B2, in reading order: B1 (TestName), D2 (Mode),
// H7..H31, E5 (SampleVol), C5 (SampleVolKey), H32..H34.
std::span<const AssayCell> AssayCells();

// One TestVolume property: the cell of part k is (first_row + k, column).
// Rows 21 to 23 between the groups are not read.
struct VolumeCell {
  int first_row;
  int column;
  std::string_view property;  // a TestVolumeProperties() name

  SheetCell ForPart(int part) const { return {first_row + part, column}; }
};

// The volume cells of one part, in reading order: E (ReagentVol), then in
// column C RegentVolKey, WaterToAssayB, InitWater, WaterToAssayA, WashFill,
// LastWash.
std::span<const VolumeCell> VolumeCells();

}  // namespace catalog_sync
