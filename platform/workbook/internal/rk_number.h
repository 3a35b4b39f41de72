// The RK form of a number, as RK and MULRK records store it.
#pragma once

#include <cstdint>
#include <cstring>

namespace platform::workbook {

// Bit 0: the number is 100 times too large. Bit 1: the upper 30 bits are a
// signed integer; otherwise they are the upper 30 bits of a double whose
// other bits are zero (both flag bits masked off first).
inline double DecodeRk(std::uint32_t rk) {
  double v;
  if (rk & 0x2u) {
    v = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
  } else {
    const std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, sizeof v);
  }
  return (rk & 0x1u) ? v / 100 : v;
}

}  // namespace platform::workbook
