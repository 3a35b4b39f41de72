#include "platform/workbook/internal/cell_table.h"

#include <algorithm>

namespace platform::workbook {

namespace {

bool KeyBefore(const StoredCell& a, const StoredCell& b) {
  return a.key < b.key;
}
bool KeyBelow(const StoredCell& a, std::uint32_t key) {
  return a.key < key;
}

}  // namespace

CellTable::CellTable(std::size_t expected) {
  cells_.reserve(expected);
}

SheetCells CellTable::EndSheet() {
  const auto begin = cells_.begin() + static_cast<std::ptrdiff_t>(sheet_begin_);
  // Producers write cells row by row, each row's by column: most sheets are
  // in order already, without a key twice.
  const bool ordered = std::adjacent_find(begin, cells_.end(), [](const auto& a, const auto& b) {
                         return a.key >= b.key;
                       }) == cells_.end();
  if (!ordered) {
    std::stable_sort(begin, cells_.end(), KeyBefore);
    // Of the cells of one key, now next to each other in record order, the
    // last is kept.
    auto kept = begin;
    for (auto it = begin; it != cells_.end(); ++it) {
      if (it + 1 != cells_.end() && (it + 1)->key == it->key) continue;
      *kept++ = *it;
    }
    cells_.erase(kept, cells_.end());
  }
  const SheetCells sheet{sheet_begin_, cells_.size()};
  sheet_begin_ = cells_.size();
  return sheet;
}

const StoredCell* CellTable::Find(SheetCells sheet, std::uint32_t key) const {
  const auto begin = cells_.begin() + static_cast<std::ptrdiff_t>(sheet.begin);
  const auto end = cells_.begin() + static_cast<std::ptrdiff_t>(sheet.end);
  const auto it = std::lower_bound(begin, end, key, KeyBelow);
  return it != end && it->key == key ? &*it : nullptr;
}

}  // namespace platform::workbook
