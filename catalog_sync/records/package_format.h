// Constants of the serialised PropertyBag, the byte block that the assay
// package file holds. doc/package-format.md gives the grammar; this header
// is its one source in code.
//
// block   := header entry* trailer
// header  := magic[8] version:u32 entry_count:u32 body_size:u32
// entry   := name_size:u16 name[name_size] kind:u8 payload
// trailer := crc32:u32 over every byte before it
// All integers little-endian; floats are their IEEE 754 bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace catalog_sync::package_format {

// A non-ASCII first byte catches 7-bit transfers, CR LF catches newline
// translation, ^Z stops a DOS `type`.
inline constexpr std::array<unsigned char, 8> kMagic = {0x89, 'C', 'S', 'P', 'K', '\r', '\n', 0x1A};
inline constexpr std::uint32_t kVersion = 1;

inline constexpr std::size_t kVersionOffset = 8;
inline constexpr std::size_t kEntryCountOffset = 12;
inline constexpr std::size_t kBodySizeOffset = 16;
inline constexpr std::size_t kHeaderSize = 20;
inline constexpr std::size_t kTrailerSize = 4;

// The kind byte of an entry.
enum class KindTag : std::uint8_t {
  kBoolean = 1,  // payload u8: 0 false, 1 true (anything else is malformed)
  kByte = 2,     // u8
  kInteger = 3,  // i16
  kLong = 4,     // i32
  kSingle = 5,   // u32, IEEE 754 binary32 bits
  kDouble = 6,   // u64, IEEE 754 binary64 bits
  kText = 7,     // text_size:u32, then text_size bytes of UTF-8
};

// A name is 1 to 65535 bytes of UTF-8; names are unique within a block.
inline constexpr std::size_t kMaxNameSize = 0xFFFF;

// The smallest entry: a one-byte name with a one-byte payload. A header
// whose entry count exceeds body_size / kMinEntrySize cannot be honest.
inline constexpr std::size_t kMinEntrySize = 2 + 1 + 1 + 1;

// No block is longer than 4 GiB - 1 bytes, so every offset into one fits a
// u32 (body_size included).
inline constexpr std::size_t kMaxBlockSize = 0xFFFFFFFFu;

// Every malformed block is reported as this platform error, with the cause as
// a "package format" detail.
inline constexpr long kInvalidFileFormat = 321;
inline constexpr const char* kInvalidFileFormatText = "Invalid file format";

// The trailer's checksum: CRC-32 (ISO-HDLC, as zlib and PNG compute it) of
// `sealed`, the block's bytes before the trailer.
std::uint32_t Checksum(std::string_view sealed);

}  // namespace catalog_sync::package_format
