// read_cells <workbook.xls> <digest file>
//
// Opens the workbook through platform/workbook and reads, from every sheet
// after the first, each cell the workbook import reads, in its order (the
// layout of catalog_sync/run/assay_sheet.h). Writes a digest of the values
// read (see Digest) to <digest file>, for comparison with the reference
// reader's, and prints the processor seconds of the open and the reads
// alone (the compound-file library loaded before, as the reference's module
// is imported before its timer starts).
#include <time.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "catalog_sync/run/assay_sheet.h"
#include "platform/core/error.h"
#include "platform/workbook/workbook.h"

namespace {

using catalog_sync::SheetCell;
using platform::Value;
using platform::ValueKind;

// What was read, kind by kind; bench/workbook_import/xlrd_reference.py
// counts the same way.
struct Digest {
  long cells = 0, empty = 0, numbers = 0, texts = 0, text_bytes = 0, booleans = 0, trues = 0,
       errors = 0;
  double number_sum = 0;

  void Add(const Value& v) {
    ++cells;
    switch (v.kind()) {
      case ValueKind::kDouble: ++numbers, number_sum += v.ToDouble(); break;
      case ValueKind::kText: ++texts, text_bytes += static_cast<long>(v.text().size()); break;
      case ValueKind::kBoolean: ++booleans, trues += v.boolean() ? 1 : 0; break;
      case ValueKind::kError: ++errors; break;
      default: ++empty; break;
    }
  }
  std::string Line() const {
    char line[256];
    std::snprintf(line, sizeof line,
                  "cells %ld empty %ld numbers %ld sum %.17g texts %ld bytes %ld booleans %ld "
                  "true %ld errors %ld\n",
                  cells, empty, numbers, number_sum, texts, text_bytes, booleans, trues, errors);
    return line;
  }
};

Digest ReadAssayCells(const std::string& path) {
  const platform::workbook::Workbook book = platform::workbook::Workbook::Open(path);
  Digest digest;
  const auto read = [&](int sheet, SheetCell c) { digest.Add(book.Cell(sheet, c.row, c.column)); };
  for (int sheet = 2; sheet <= book.SheetCount(); ++sheet) {
    read(sheet, catalog_sync::kTestNumberCell);
    for (const catalog_sync::AssayCell& c : catalog_sync::AssayCells()) read(sheet, c.cell);
    for (int part = 0; part < 3; ++part) {
      for (const catalog_sync::VolumeCell& c : catalog_sync::VolumeCells()) {
        read(sheet, c.ForPart(part));
      }
    }
  }
  return digest;
}

}  // namespace

// Processor time of this process: on a machine shared with other work it
// counts the reads, not the waits for a processor.
double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: read_cells <workbook.xls> <digest file>\n";
    return 2;
  }
  try {
    // Loaded before the timer, as the reference imports xlrd before its own.
    platform::workbook::Workbook::LoadLibrary();
    const double start = ProcessSeconds();
    const Digest digest = ReadAssayCells(argv[1]);
    const double elapsed = ProcessSeconds() - start;
    std::FILE* out = std::fopen(argv[2], "w");
    if (out == nullptr || std::fputs(digest.Line().c_str(), out) < 0 || std::fclose(out) != 0) {
      std::cerr << "read_cells: cannot write " << argv[2] << "\n";
      return 1;
    }
    std::printf("%.6f\n", elapsed);
    return 0;
  } catch (const platform::Error& e) {
    std::cerr << "read_cells: " << e.number() << " " << e.description() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "read_cells: " << e.what() << "\n";
    return 1;
  }
}
