// The cells of one sheet in a compact form with an open-addressing index:
// one allocation per sheet for the cells and one for the index, constant
// lookup time. Texts live in the workbook's text pool, referred to by index.
#pragma once

#include <cstdint>
#include <vector>

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

class CellTable {
 public:
  // Cells are added in record order; a later cell of the same key wins.
  void Add(const StoredCell& cell) { cells_.push_back(cell); }
  // REQUIRES: called once, after the last Add and before any Find.
  void BuildIndex();
  // Null when the sheet has no value in that cell.
  const StoredCell* Find(std::uint32_t key) const;

 private:
  std::size_t SlotOf(std::uint32_t key) const { return (key * 0x9E3779B1u) & (slots_.size() - 1); }

  std::vector<StoredCell> cells_;
  std::vector<std::uint32_t> slots_;  // 0 free, otherwise index in cells_ + 1
};

}  // namespace platform::workbook
