// The assay workbook read into a catalogue, with nothing written: the first
// step of a "QVR" run's import (ImportData then writes the package file), and
// all that a dry run needs to show what a workbook would bring.
//
// Each assay sheet (positions 2 to N; see assay_sheet.h for its cells) gives
// one Assay, appended to colAssay, and three TestVolume records at
// colObjTV(position - 1, part). Cell values convert as the loosely typed
// value converts them (platform/core/value.h): an empty cell gives 0 or "",
// a numeric text reads as its number, fractions round half to even; a number
// out of the property's range fails with "Overflow" (6), a text that is no
// number, and an error cell in any property, with "Type mismatch" (13). A
// true/false cell is -1 or 0 in a number property, "True"/"False" in a text
// property, and in the two flags reads as the word TRUE or FALSE, so the flag
// rule makes true of TRUE only.
//
// Dates are numbers to the reader: a date cell gives its serial number in the
// workbook's own date system, in a text property its number's text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/test_volume_table.h"
#include "platform/core/error.h"

namespace catalog_sync {

// Why an import stopped, as the operator is to be told.
struct ImportFailure {
  // "ImportData" followed by the test number last read from a B2 cell, "0"
  // when none was read.
  std::string title;
  // The cause's number and description (for the general prompt) and its
  // detail lines in print order: where it happened first, when in a sheet
  // ("sheet": position and name, "cell": the A1 reference and the property,
  // "value": the cell's raw value), then the cause's own (e.g. the reader's
  // "file" and "record offset").
  platform::Error error;
};

// "ImportData" followed by `nTestNumber` in decimal.
std::string ImportFailureTitle(std::int16_t nTestNumber);

// Reads the workbook file at `path` into colAssay (appended to; the caller
// passes it empty) and colObjTV (dimensioned afresh to 1..N-1 by 0..2, N
// the number of sheets, before the first sheet is read).
//
// Returns nothing when every assay sheet was read. Otherwise stops at the
// first failure and returns it: the file cannot be opened or is no readable
// workbook, it has fewer than 2 or more than 32,767 sheets, a sheet after the
// first is a chart or module sheet (438, as the spreadsheet application
// refuses its cells), or a cell does not convert. What was read before the failure stays in the
// containers.
//
// Writes no file and shows nothing; throws nothing but std::bad_alloc (when
// not even the failure can be built). The workbook is read whole at the
// start and no file is held open afterwards.
std::optional<ImportFailure> ReadAssayWorkbook(const std::string& path, AssayCollection& colAssay,
                                               TestVolumeTable& colObjTV);

}  // namespace catalog_sync
