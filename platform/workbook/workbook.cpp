#include "platform/workbook/workbook.h"

#include <algorithm>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/workbook/internal/biff_records.h"
#include "platform/workbook/internal/compound_file.h"
#include "platform/workbook/internal/gsf_library.h"
#include "platform/workbook/internal/sheet_cells.h"
#include "platform/workbook/internal/workbook_error.h"
#include "platform/workbook/internal/workbook_globals.h"

namespace platform::workbook {

struct Workbook::Contents {
  explicit Contents(std::size_t expected_cells) : cells(expected_cells) {}

  std::vector<std::string> names;
  std::vector<bool> holds_cells;        // by position - 1
  std::vector<SheetCells> sheet_cells;  // by position - 1; empty for chart and module sheets
  CellTable cells;
  std::vector<std::string> texts;
  bool date_1904 = false;
};

namespace {

// No cell record takes fewer bytes of the stream than a MULRK's 6 per cell,
// so that the cell array, sized by the stream, never moves.
constexpr std::size_t kLeastBytesPerCell = 6;

bool HoldsCells(std::uint8_t sheet_type) {
  return sheet_type == biff::kSheetWorksheet || sheet_type == biff::kSheetMacro;
}

// Where the substream of each sheet that holds cells must end: at the start
// of the next such sheet in the stream, or at the stream's end. Substreams
// never overlap; a damaged or hostile BOUNDSHEET list whose offsets point
// into one sheet many times would otherwise have it read once per entry, at
// a cost of memory and time without bound.
std::vector<std::size_t> SheetEnds(const std::vector<SheetEntry>& sheets, std::size_t stream_size) {
  std::vector<std::size_t> starts;
  for (const SheetEntry& sheet : sheets) {
    if (HoldsCells(sheet.type)) starts.push_back(sheet.offset);
  }
  std::sort(starts.begin(), starts.end());
  if (const auto twice = std::adjacent_find(starts.begin(), starts.end()); twice != starts.end()) {
    ThrowDamaged(*twice, "two sheets start at one offset");
  }
  std::vector<std::size_t> ends;
  for (const SheetEntry& sheet : sheets) {
    const auto next = std::upper_bound(starts.begin(), starts.end(), sheet.offset);
    ends.push_back(next == starts.end() ? stream_size : std::min(*next, stream_size));
  }
  return ends;
}

}  // namespace

Workbook::Workbook(std::unique_ptr<Contents> contents) : contents_(std::move(contents)) {}
Workbook::Workbook(Workbook&&) noexcept = default;
Workbook& Workbook::operator=(Workbook&&) noexcept = default;
Workbook::~Workbook() = default;

Workbook Workbook::Open(const std::string& path) {
  UniqueFd fd = OpenForReading(path);  // its failures name the path already
  try {
    const LargeArray<char> stream = ReadWorkbookStream(std::move(fd), path);
    return FromStream(std::string_view(stream.data(), stream.size()));
  } catch (Error& e) {
    e.AddDetail("file", path);
    throw;
  }
}

void Workbook::LoadLibrary() {
  Gsf();
}

Workbook Workbook::OpenFromMemory(std::string bytes) {
  const LargeArray<char> stream = ReadWorkbookStream(bytes);
  bytes = std::string();  // the stream copy is all that is needed from here
  return FromStream(std::string_view(stream.data(), stream.size()));
}

Workbook Workbook::FromStream(std::string_view stream) {
  WorkbookGlobals globals = ReadWorkbookGlobals(stream);
  auto contents = std::make_unique<Contents>(stream.size() / kLeastBytesPerCell);
  contents->date_1904 = globals.date_1904;
  const std::size_t shared_count = globals.shared_strings.size();
  contents->texts = std::move(globals.shared_strings);
  contents->names.reserve(globals.sheets.size());
  contents->sheet_cells.resize(globals.sheets.size());
  const std::vector<std::size_t> ends = SheetEnds(globals.sheets, stream.size());
  for (std::size_t i = 0; i < globals.sheets.size(); ++i) {
    SheetEntry& sheet = globals.sheets[i];
    if (HoldsCells(sheet.type)) {
      try {
        const std::string_view own = stream.substr(0, ends[i]);
        contents->sheet_cells[i] =
            ReadSheetCells(own, sheet.offset, shared_count, &contents->texts, &contents->cells);
      } catch (Error& e) {
        e.AddDetail("sheet", std::to_string(i + 1) + " " + sheet.name);
        throw;
      }
    }
    contents->names.push_back(std::move(sheet.name));
    contents->holds_cells.push_back(HoldsCells(sheet.type));
  }
  return Workbook(std::move(contents));
}

std::int32_t Workbook::SheetCount() const {
  return static_cast<std::int32_t>(contents_->names.size());
}

const std::string& Workbook::SheetName(int position) const {
  if (position < 1 || position > SheetCount()) {
    throw Error(platform::err::kSubscriptOutOfRange)
        .AddDetail("sheet position", std::to_string(position));
  }
  return contents_->names[position - 1];
}

bool Workbook::SheetHoldsCells(int position) const {
  SheetName(position);  // checks the position
  return contents_->holds_cells[position - 1];
}

platform::Value Workbook::Cell(int sheet_position, int row, int column) const {
  SheetName(sheet_position);  // checks the position
  if (row < 1 || row > biff::kMaxRows || column < 1 || column > biff::kMaxColumns) {
    throw CellOutOfRangeError(row, column);
  }
  const StoredCell* cell = contents_->cells.Find(contents_->sheet_cells[sheet_position - 1],
                                                 CellKey(row - 1, column - 1));
  if (cell == nullptr) return platform::Value();
  switch (cell->kind) {
    case StoredKind::kNumber: return platform::Value(cell->number);
    case StoredKind::kText: return platform::Value(contents_->texts[cell->text]);
    case StoredKind::kBoolean: return platform::Value(cell->code != 0);
    case StoredKind::kError: return platform::Value::FromError(cell->code);
  }
  return platform::Value();
}

bool Workbook::Uses1904DateSystem() const {
  return contents_->date_1904;
}

}  // namespace platform::workbook
