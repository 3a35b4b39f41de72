#include "platform/workbook/internal/shared_strings.h"

#include <algorithm>

#include "platform/workbook/internal/segmented_reader.h"

namespace platform::workbook {

std::vector<std::string> ReadSharedStrings(const Record& sst,
                                           const std::vector<std::string_view>& continues) {
  std::vector<std::string_view> segments{sst.payload};
  std::size_t total_bytes = sst.payload.size();
  for (std::string_view c : continues) {
    segments.push_back(c);
    total_bytes += c.size();
  }
  SegmentedReader reader(std::move(segments), sst.offset);
  reader.U32();  // total references
  const std::uint32_t declared = reader.U32();
  std::vector<std::string> strings;
  // Every string takes at least 3 bytes, whatever the header claims.
  strings.reserve(std::min<std::size_t>(declared, total_bytes / 3));
  while (!reader.AtEnd()) strings.push_back(reader.UnicodeString(2));
  return strings;
}

}  // namespace platform::workbook
