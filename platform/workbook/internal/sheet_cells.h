// The cells of one worksheet (or macro sheet) substream.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/workbook/internal/cell_table.h"

namespace platform::workbook {

// Reads the substream starting with the BOF at `offset`, up to its EOF;
// embedded charts are skipped whole. Its cells are added to `cells` as the
// sheet after those added before. `texts` is the workbook's text pool: its
// first `shared_count` entries are the shared strings that LABELSST
// indexes; texts of LABEL, RSTRING and formula results are appended to it.
SheetCells ReadSheetCells(std::string_view stream, std::size_t offset, std::size_t shared_count,
                          std::vector<std::string>* texts, CellTable* cells);

}  // namespace platform::workbook
