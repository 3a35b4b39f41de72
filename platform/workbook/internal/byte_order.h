// Little-endian loads from unaligned bytes.
#pragma once

#include <cstdint>
#include <cstring>

namespace platform::workbook {

// REQUIRES: the caller has checked that the bytes lie inside its buffer.
inline std::uint16_t LoadU16(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

inline std::uint32_t LoadU32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

inline double LoadDouble(const char* p) {
  const std::uint64_t bits = LoadU32(p) | (static_cast<std::uint64_t>(LoadU32(p + 4)) << 32);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace platform::workbook
