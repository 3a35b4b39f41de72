#include "platform/workbook/internal/cell_table.h"

namespace platform::workbook {

void CellTable::BuildIndex() {
  // The grown vector goes back to the heap for the next sheet to grow in,
  // so that a workbook's cells take about their own size in fresh pages.
  cells_.shrink_to_fit();
  std::size_t size = 1;
  while (size < 2 * cells_.size()) size *= 2;
  slots_.assign(size, 0);
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    std::size_t slot = SlotOf(cells_[i].key);
    while (slots_[slot] != 0 && cells_[slots_[slot] - 1].key != cells_[i].key) {
      slot = (slot + 1) & (size - 1);
    }
    slots_[slot] = static_cast<std::uint32_t>(i + 1);
  }
}

const StoredCell* CellTable::Find(std::uint32_t key) const {
  if (cells_.empty()) return nullptr;
  for (std::size_t slot = SlotOf(key); slots_[slot] != 0; slot = (slot + 1) & (slots_.size() - 1)) {
    const StoredCell& cell = cells_[slots_[slot] - 1];
    if (cell.key == key) return &cell;
  }
  return nullptr;
}

}  // namespace platform::workbook
