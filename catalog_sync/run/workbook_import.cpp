#include "catalog_sync/run/workbook_import.h"

#include <span>
#include <string_view>
#include <vector>

#include "catalog_sync/records/record_properties.h"
#include "catalog_sync/run/assay_sheet.h"
#include "catalog_sync/run/failure_box.h"
#include "platform/core/text.h"
#include "platform/core/value.h"
#include "platform/workbook/workbook.h"

namespace catalog_sync {

namespace {

using platform::Error;
using platform::Value;
using platform::workbook::Workbook;

// The layout's cells with their property names resolved once.
struct AssaySource {
  const AssayCell* layout;
  const AssayProperty* property;
};
struct VolumeSource {
  const VolumeCell* layout;
  const TestVolumeProperty* property;
};

const std::vector<AssaySource>& AssaySources() {
  static const std::vector<AssaySource> sources = [] {
    std::vector<AssaySource> resolved;
    for (const AssayCell& c : AssayCells())
      resolved.push_back({&c, &AssayPropertyNamed(c.property)});
    return resolved;
  }();
  return sources;
}

const std::vector<VolumeSource>& VolumeSources() {
  static const std::vector<VolumeSource> sources = [] {
    std::vector<VolumeSource> resolved;
    for (const VolumeCell& c : VolumeCells()) {
      resolved.push_back({&c, &TestVolumePropertyNamed(c.property)});
    }
    return resolved;
  }();
  return sources;
}

constexpr int kNoPart = -1;

// Where the import is, so that a failure can say where it happened.
struct Cursor {
  int sheet = 0;  // 0 before the first assay sheet
  bool at_cell = false;
  SheetCell cell{0, 0};
  std::string_view property;
  int part = kNoPart;
  std::int16_t last_test_number = 0;  // from the last B2 that converted
};

class SheetReader {
 public:
  SheetReader(const Workbook& book, Cursor& at) : book_(book), at_(at) {}

  Value Read(SheetCell cell, std::string_view property, int part = kNoPart) {
    at_.at_cell = true;
    at_.cell = cell;
    at_.property = property;
    at_.part = part;
    return book_.Cell(at_.sheet, cell.row, cell.column);
  }

 private:
  const Workbook& book_;
  Cursor& at_;
};

// The value a cell hands to its property's setter.
Value Converted(CellConversion conversion, Value raw) {
  if (conversion == CellConversion::kUpperTrimmedText) {
    return Value(platform::UpperTrim(raw.ToText()));
  }
  return raw;
}

// "Object doesn't support this property or method": what the spreadsheet
// application answers when asked for a cell of a chart or module sheet.
constexpr long kNoSuchMember = 438;

void ReadAssaySheet(const Workbook& book, Cursor& at, AssayCollection& colAssay,
                    TestVolumeTable& colObjTV) {
  if (!book.SheetHoldsCells(at.sheet)) {
    throw Error(kNoSuchMember, "Object doesn't support this property or method")
        .AddDetail("problem", "a chart or module sheet has no cells");
  }
  SheetReader reader(book, at);
  const std::int16_t nTestNumber = reader.Read(kTestNumberCell, "TestNumber").ToInteger();
  at.last_test_number = nTestNumber;

  Assay assay;
  assay.SetTestNumber(nTestNumber);
  for (const AssaySource& s : AssaySources()) {
    s.property->set(
        assay, Converted(s.layout->conversion, reader.Read(s.layout->cell, s.layout->property)));
  }
  colAssay.Add(std::move(assay));

  for (int part = 0; part < TestVolumeTable::kParts; ++part) {
    TestVolume volume;
    volume.SetTestsID(nTestNumber);
    volume.SetPart(static_cast<std::uint8_t>(part));
    for (const VolumeSource& s : VolumeSources()) {
      s.property->set(volume, reader.Read(s.layout->ForPart(part), s.layout->property, part));
    }
    colObjTV.Set(at.sheet - 1, part, volume);
  }
  at.at_cell = false;
}

std::string CellText(const Cursor& at) {
  std::string text = A1Reference(at.cell) + " (" + std::string(at.property);
  if (at.part != kNoPart) text += " of part " + std::to_string(at.part);
  return text + ")";
}

// The cause with the place of the failure leading its details.
ImportFailure FailureAt(const Cursor& at, const Workbook* book, const Error& cause) {
  Error error(cause.number(), cause.description());
  if (book != nullptr && at.sheet == 0) {
    error.AddDetail("sheets", std::to_string(book->SheetCount()) + " (assays from sheet 2 on)");
  }
  if (book != nullptr && at.sheet > 0) {
    error.AddDetail("sheet", "position " + std::to_string(at.sheet) + ", \"" +
                                 book->SheetName(at.sheet) + "\"");
    if (at.at_cell) {
      error.AddDetail("cell", CellText(at));
      error.AddDetail("value", book->Cell(at.sheet, at.cell.row, at.cell.column).Describe());
    }
  }
  for (const auto& [what, value] : cause.details()) error.AddDetail(what, value);
  return {ImportFailureTitle(at.last_test_number), std::move(error)};
}

}  // namespace

std::string ImportFailureTitle(std::int16_t nTestNumber) {
  return "ImportData" + std::to_string(nTestNumber);
}

std::optional<ImportFailure> ReadAssayWorkbook(const std::string& path, AssayCollection& colAssay,
                                               TestVolumeTable& colObjTV) {
  Cursor at;
  std::optional<Workbook> book;
  try {
    book.emplace(Workbook::Open(path));
    const std::int16_t sheets = Value(book->SheetCount()).ToInteger();
    colObjTV.Dimension(static_cast<std::int16_t>(sheets - 1));
    for (at.sheet = 2; at.sheet <= sheets; ++at.sheet) {
      ReadAssaySheet(*book, at, colAssay, colObjTV);
    }
    return std::nullopt;
  } catch (...) {
    return FailureAt(at, book ? &*book : nullptr, CurrentFailure());
  }
}

}  // namespace catalog_sync
