// UTF-16 code units (as BIFF8 stores texts) to UTF-8.
#pragma once

#include <string>

namespace platform::workbook {

// Surrogate pairs become one code point; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& units);

}  // namespace platform::workbook
