// Feeds arbitrary bytes to the workbook reader as a whole .xls file. Every
// input must either open or fail with a platform::Error; a workbook that
// opens is then read sheet by sheet over the cells the import reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/core/error.h"
#include "platform/workbook/workbook.h"

// libgsf 1.14.50 leaks a directory entry (allocated through glib) on some
// damaged compound-file directories. Those allocations are never the
// reader's own, so leaks reached only through glib are not findings.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libglib-2.0.so";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const auto book = platform::workbook::Workbook::OpenFromMemory(
        std::string(reinterpret_cast<const char*>(data), size));
    for (int s = 1; s <= book.SheetCount(); ++s) {
      book.SheetName(s);
      for (int row = 1; row <= 34; ++row) {
        for (int column = 1; column <= 8; ++column) book.Cell(s, row, column).Describe();
      }
    }
  } catch (const platform::Error&) {
  }
  return 0;
}
