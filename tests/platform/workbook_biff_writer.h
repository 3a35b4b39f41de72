// A tiny BIFF8 writer for the workbook reader's tests: records by hand, malformed ones included,
// the sheet offsets filled in, the stream wrapped in a compound file by libgsf.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace workbook_test {

inline const auto U16 = [](std::uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; };
inline const auto U32 = [](std::uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); };
inline const auto F64 = [](double v) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  return U32(static_cast<std::uint32_t>(bits)) + U32(static_cast<std::uint32_t>(bits >> 32));
};
// A record; its length is cut to 16 bits, so a test can write one whose length lies.
inline const auto Rec = [](std::uint16_t type, const std::string& payload) {
  return U16(type) + U16(static_cast<std::uint16_t>(payload.size())) + payload;
};
inline const auto Bof = [](std::uint16_t substream_type, std::uint16_t version = 0x0600) {
  return Rec(0x0809, U16(version) + U16(substream_type) + std::string(12, '\0'));
};
inline const auto Eof = [] { return Rec(0x000A, ""); };
// An XLUnicodeString of 8-bit characters: a count of 1 or 2 bytes, flags 0, the characters.
inline const auto Compressed = [](const std::string& latin1, int count_bytes = 2) {
  const auto n = static_cast<std::uint16_t>(latin1.size());
  return (count_bytes == 1 ? std::string(1, char(n)) : U16(n)) + '\0' + latin1;
};
// A cell record: row and column (1-based as the reader's API counts them), XF index 15, payload.
inline const auto Cell = [](std::uint16_t type, int row, int column, const std::string& payload) {
  return Rec(type,
             U16(std::uint16_t(row - 1)) + U16(std::uint16_t(column - 1)) + U16(15) + payload);
};
inline const auto Number = [](int row, int column, double v) {
  return Cell(0x0203, row, column, F64(v));
};

struct Sheet {
  std::string name;
  std::uint8_t type = 0;  // 0 worksheet, 1 macro, 2 chart, 6 module (no substream)
  std::uint8_t hidden = 0;
  std::string records;  // between the sheet's BOF and EOF
};
// Globals BOF, `globals`, one BOUNDSHEET per sheet, EOF, then the sheets' substreams.
std::string Stream(const std::vector<Sheet>& sheets, const std::string& globals = "");
std::string CompoundFile(const std::string& stream, const std::string& stream_name = "Workbook");
std::string CompoundFile(const std::vector<std::pair<std::string, std::string>>& streams);

}  // namespace workbook_test
