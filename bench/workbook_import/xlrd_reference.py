#!/usr/bin/env python3
"""xlrd_reference.py <workbook.xls> <digest file>

Debian's python3-xlrd opening the workbook and reading, from every sheet
after the first, the cells that the workbook import reads (the same cells
as read_cells.cpp, in the same order). Writes the same digest of the values
as read_cells does and prints the processor seconds of the open and the
reads alone.
"""
import sys
import time

import xlrd

C, D, E, H = 3, 4, 5, 8
# (row, column), both from 1: B2, then the Assay cells, then per part the
# volume cells (first row + part).
HEADER = [(2, 2), (1, 2), (2, D)]
PROPERTIES = ([(row, H) for row in range(7, 32)] + [(5, E), (5, C)]
              + [(row, H) for row in range(32, 35)])
VOLUMES = [(6, E), (6, C), (9, C), (12, C), (15, C), (18, C), (24, C)]
CELLS = HEADER + PROPERTIES + [(row + part, col) for part in range(3) for row, col in VOLUMES]


def read_assay_cells(path):
    counts = dict.fromkeys(["cells", "empty", "numbers", "texts", "bytes", "booleans", "true",
                            "errors"], 0)
    total = 0.0
    book = xlrd.open_workbook(path)
    for index in range(1, book.nsheets):
        sheet = book.sheet_by_index(index)
        for row, col in CELLS:
            counts["cells"] += 1
            if row > sheet.nrows or col > sheet.row_len(row - 1):
                counts["empty"] += 1
                continue
            cell = sheet.cell(row - 1, col - 1)
            if cell.ctype in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                counts["numbers"] += 1
                total += cell.value
            elif cell.ctype == xlrd.XL_CELL_TEXT:
                counts["texts"] += 1
                counts["bytes"] += len(cell.value.encode("utf-8"))
            elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                counts["booleans"] += 1
                counts["true"] += cell.value
            elif cell.ctype == xlrd.XL_CELL_ERROR:
                counts["errors"] += 1
            else:
                counts["empty"] += 1
    return counts, total


def main():
    start = time.process_time()
    counts, total = read_assay_cells(sys.argv[1])
    elapsed = time.process_time() - start
    with open(sys.argv[2], "w", encoding="ascii") as out:
        out.write("cells %(cells)d empty %(empty)d numbers %(numbers)d sum " % counts
                  + "%.17g" % total
                  + " texts %(texts)d bytes %(bytes)d booleans %(booleans)d true %(true)d"
                  " errors %(errors)d\n" % counts)
    print("%.6f" % elapsed)


main()
