// Feeds arbitrary bytes to the package reader as a whole package block.
// Every input must either load or fail with a platform::Error; a block that
// loads is then read as a catalogue by the same code ReadProperties uses.
//
// Random bytes almost never carry the right body size and checksum, so each
// input is also tried resealed (body size and checksum made to fit), which
// takes the fuzzer past the frame into the entries and the catalogue reader.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "catalog_sync/records/catalog_bag.h"
#include "catalog_sync/records/package_format.h"
#include "catalog_sync/records/property_bag.h"
#include "platform/core/error.h"

namespace {

namespace fmt = catalog_sync::package_format;

void LoadCatalogue(std::string_view block) {
  try {
    const catalog_sync::PropertyBag bag = catalog_sync::PropertyBag::FromContents(block);
    catalog_sync::AssayCollection assays;
    catalog_sync::TestVolumeTable volumes;
    catalog_sync::CatalogFromBag(bag, assays, volumes);
  } catch (const platform::Error&) {
  }
}

std::string Resealed(std::string_view bytes) {
  std::string block(bytes);
  const auto body_size =
      static_cast<std::uint32_t>(block.size() - fmt::kHeaderSize - fmt::kTrailerSize);
  std::memcpy(block.data() + fmt::kBodySizeOffset, &body_size, sizeof body_size);
  const std::uint32_t crc =
      fmt::Checksum(std::string_view(block).substr(0, block.size() - fmt::kTrailerSize));
  std::memcpy(block.data() + block.size() - fmt::kTrailerSize, &crc, sizeof crc);
  return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  LoadCatalogue(bytes);
  if (size >= fmt::kHeaderSize + fmt::kTrailerSize) LoadCatalogue(Resealed(bytes));
  return 0;
}
