// The cells of every sheet of a workbook in one array, each sheet's cells a
// range of it sorted by key: no allocation per sheet and no index besides
// the order, so that the memory an open touches is about the cells' own
// 16 bytes each. Texts live in the workbook's text pool, referred to by
// index.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/core/large_pages.h"

namespace platform::workbook {

// Key of a cell: 0-based row and column of the BIFF8 grid.
inline std::uint32_t CellKey(int row0, int column0) {
  return (static_cast<std::uint32_t>(row0) << 8) | static_cast<std::uint32_t>(column0);
}

enum class StoredKind : std::uint8_t { kNumber, kText, kBoolean, kError };

// 16 bytes: a 500-sheet workbook holds some 64,000 of them, and the pages
// they take, not the instructions that read them, are most of an open.
struct StoredCell {
  std::uint32_t key = 0;
  StoredKind kind = StoredKind::kNumber;
  std::uint8_t code = 0;  // kBoolean: 0/1; kError: the error code
  union {
    double number = 0;   // kNumber
    std::uint32_t text;  // kText: index in the text pool
  };
};
static_assert(sizeof(StoredCell) == 16);

// The cells of one sheet in a CellTable.
struct SheetCells {
  std::size_t begin = 0;
  std::size_t end = 0;
};

class CellTable {
 public:
  // Room for `expected` cells before the array grows (it moves when it does).
  explicit CellTable(std::size_t expected);

  // Cells are added sheet after sheet, each sheet's in record order; a
  // later cell of the same key wins.
  void Add(const StoredCell& cell) { cells_.push_back(cell); }
  // The cells added since the previous EndSheet, as the cells of one sheet.
  SheetCells EndSheet();
  // Null when the sheet has no value in that cell. A binary search among
  // the sheet's cells.
  const StoredCell* Find(SheetCells sheet, std::uint32_t key) const;

 private:
  LargeArray<StoredCell> cells_;
  std::size_t sheet_begin_ = 0;
};

}  // namespace platform::workbook
