#include "catalog_sync/records/package_format.h"

#include <zlib.h>

namespace catalog_sync::package_format {

std::uint32_t Checksum(std::string_view sealed) {
  return static_cast<std::uint32_t>(crc32_z(
      crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(sealed.data()), sealed.size()));
}

}  // namespace catalog_sync::package_format
