// Shared by the workbook reader's tests: cells and failures shown as text
// that one comparison checks whole, and the streams of the real fixtures.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/core/error.h"
#include "platform/workbook/workbook.h"
#include "tests/platform/workbook_biff_writer.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace workbook_test {

using platform::Value;
using platform::workbook::Workbook;
namespace werr = platform::workbook::err;

inline std::string FixturePath(const std::string& name) {
  return testing_support::SourceDir() + "/tests/fixtures/workbook/" + name;
}
inline std::string FixtureStream(const std::string& name) {
  return WorkbookStreamOf(testing_support::ReadFile(FixturePath(name)));
}

inline std::string Continue(const std::string& payload) {
  return Rec(0x003C, payload);
}
// An SST of the given strings (already encoded), in one record.
inline std::string Sst(std::uint32_t declared_count, const std::string& strings) {
  return Rec(0x00FC, U32(declared_count) + U32(declared_count) + strings);
}
// A LABEL record of an already encoded string.
inline std::string Label(int row, int column, const std::string& xl_string) {
  return Rec(0x0204, U16(static_cast<std::uint16_t>(row - 1)) +
                         U16(static_cast<std::uint16_t>(column - 1)) + U16(15) + xl_string);
}

// A formula whose result is a text, which the STRING record after it holds.
inline std::string TextFormula(int row, int column) {
  return Formula(row, column, FormulaNonNumber(0, 0));
}

// Cells of one row from column `first` to `last`, each as its Describe text
// ("|" between them); a number of another kind than Double shows its kind.
inline std::string RowOf(const Workbook& book, int sheet, int row, int last, int first = 1) {
  std::string text;
  for (int c = first; c <= last; ++c) {
    const Value v = book.Cell(sheet, row, c);
    const bool plain = !v.IsNumeric() || v.kind() == platform::ValueKind::kDouble;
    text += (c > first ? "|" : "") + (plain ? "" : std::string(KindName(v.kind())) + " ") +
            v.Describe();
  }
  return text;
}

// "<number> <problem detail>" of the failure to open `file` (the BIFF
// version detail for a version refused), "opens" when it opens.
inline std::string Outcome(const std::string& file) {
  try {
    Workbook::OpenFromMemory(file);
  } catch (const platform::Error& e) {
    std::string problem;
    for (const auto& [what, value] : e.details()) {
      if (what == "problem" || what == "BIFF version") problem = value;
    }
    return std::to_string(e.number()) + " " + problem;
  }
  return "opens";
}

}  // namespace workbook_test
