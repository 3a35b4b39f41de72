// The cells of one worksheet (or macro sheet) substream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/core/value.h"

namespace platform::workbook {

// Key of a cell: 0-based row and column of the BIFF8 grid.
inline std::uint32_t CellKey(int row0, int column0) {
  return (static_cast<std::uint32_t>(row0) << 8) | static_cast<std::uint32_t>(column0);
}

// Only cells with a value are kept; blank cells are absent.
using CellMap = std::unordered_map<std::uint32_t, platform::Value>;

// Reads the substream starting with the BOF at `offset`, up to its EOF;
// embedded charts are skipped whole. `shared_strings` resolves LABELSST.
CellMap ReadSheetCells(std::string_view stream, std::size_t offset,
                       const std::vector<std::string>& shared_strings);

}  // namespace platform::workbook
